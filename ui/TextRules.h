// Rules for text the user types.
#pragma once

#include <QString>

namespace keyloft::ui {

// A node's text never holds a line break or a NUL: they would split the line
// on save or cut the file on the next load. A pasted text of several lines
// keeps its first line.
inline QString FirstLine(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r' || c == QChar(0) || c == QChar(0x2028) || c == QChar(0x2029))
            return text.left(i);
    }
    return text;
}

}  // namespace keyloft::ui
