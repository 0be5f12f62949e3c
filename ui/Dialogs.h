// The editor's message dialogs and input prompt.
#pragma once

#include <QString>

class QScreen;
class QWidget;

namespace keyloft::ui {

enum class Answer { Yes, No, Cancel };

// Caption "Information", information icon, one "OK".
void ShowInformation(QWidget* parent, const QString& text);
// Caption "Warning", warning icon, one "OK".
void ShowWarning(QWidget* parent, const QString& text);
// Caption "Confirm", question icon, "Yes" (default, focused) and "No".
// Enter answers the focused button, Escape answers No, and the close box or
// Alt+F4 answers Cancel.
Answer Confirm(QWidget* parent, const QString& text);
// Caption "INI Files editor", no icon, one "OK".
void ShowPlainMessage(QWidget* parent, const QString& text);
// Caption "INI Files editor", error icon, one "OK": the failure report.
void ShowError(QWidget* parent, const QString& text);
// A caption, a prompt and one line of at most 255 characters, starting empty.
// Returns the text on OK and the empty text on Cancel.
QString InputQuery(QWidget* parent, const QString& caption, const QString& prompt);

// Moves `window`, frame included, to the middle of the screen's available
// area (the desktop without its panels); nothing without a screen.
void CentreOnScreen(QWidget* window, const QScreen* screen);

inline constexpr char kApplicationTitle[] = "INI Files editor";

}  // namespace keyloft::ui
