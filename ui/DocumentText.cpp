// Node bytes to shown text and typed text back to node bytes.
#include "DocumentText.h"

#include <QByteArray>
#include <QFile>

#include "reading/Encoding.h"

namespace keyloft::ui {

QString LineText(std::string_view bytes, bool utf8) {
    if (!utf8) return QString::fromStdString(keyloft::Cp1252ToUtf8(bytes));
    if (keyloft::IsValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // A UTF-16 file's unpaired surrogate shows as one U+FFFD.
    return QString::fromStdString(keyloft::ValidUtf8(bytes));
}

std::string LineTextUtf8(std::string_view bytes, bool utf8) {
    if (!utf8) return keyloft::Cp1252ToUtf8(bytes);
    return keyloft::IsValidUtf8(bytes) ? std::string(bytes) : keyloft::ValidUtf8(bytes);
}

QString FileNameText(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString ShownText(const keyloft::Document& doc, const keyloft::Node* node) {
    // Read without storing: the model's data() and paint ask for every
    // shown node.
    std::string scratch;
    if (node->level() == 0) return FileNameText(node->text(scratch));
    return LineText(node->text(scratch), doc.IsUtf8());
}

std::string FileNameBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

std::optional<std::string> StoredLine(const keyloft::Document& doc, const QString& text,
                                      QString* unstorable) {
    const QByteArray utf8 = text.toUtf8();
    if (doc.IsUtf8()) return utf8.toStdString();
    std::string bad;
    auto bytes =
        keyloft::Utf8ToCp1252({utf8.constData(), static_cast<std::size_t>(utf8.size())}, &bad);
    if (!bytes && unstorable) *unstorable = QString::fromStdString(bad);
    return bytes;
}

std::optional<std::string> StoredText(const keyloft::Document& doc, const keyloft::Node* node,
                                      const QString& text, QString* unstorable) {
    if (node != nullptr && node->level() == 0) return FileNameBytes(text);
    // A text left as it was shown keeps its bytes, those shown as U+FFFD
    // included.
    std::string scratch;
    if (node != nullptr && text == ShownText(doc, node)) return std::string(node->text(scratch));
    return StoredLine(doc, text, unstorable);
}

QString UnstorableWarning(const QString& character) {
    return QString("The character \"%1\" cannot be stored in this file's encoding (Windows-1252).")
        .arg(character);
}

}  // namespace keyloft::ui
