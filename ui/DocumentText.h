// The one boundary between a document's node bytes and the text the window
// shows and takes: every decoding for display and every encoding of typed
// text goes through here.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "document/Document.h"

namespace keyloft::ui {

// A line's bytes as shown: UTF-8 when `utf8` (a UTF-16 file's text, whose
// unpaired surrogates show as U+FFFD, included), otherwise Windows-1252
// (every byte shows as a character, so every line survives being shown).
QString LineText(std::string_view bytes, bool utf8);
// The same as UTF-8 bytes; for a UTF-8 document the bytes themselves.
std::string LineTextUtf8(std::string_view bytes, bool utf8);
// The root names the file: its text holds the file name's bytes, shown as
// the system decodes file names, whatever the file's content is.
QString FileNameText(std::string_view bytes);
// A node's text as the tree shows it: the root as a file name, any other
// node as a line of the document's encoding.
QString ShownText(const keyloft::Document& doc, const keyloft::Node* node);

// A name typed for the root as the bytes the system uses for file names.
std::string FileNameBytes(const QString& text);
// A line typed by the user as the document's bytes; nothing when the
// document's encoding cannot hold a character, which `unstorable` (when
// given) then names. A UTF-16 file holds every character.
std::optional<std::string> StoredLine(const keyloft::Document& doc, const QString& text,
                                      QString* unstorable = nullptr);
// A text typed for `node`: a file name for the root, a line otherwise; the
// node's own text when `text` is what the tree shows for it.
std::optional<std::string> StoredText(const keyloft::Document& doc, const keyloft::Node* node,
                                      const QString& text, QString* unstorable = nullptr);
// The warning that refuses a typed text because of `character`.
QString UnstorableWarning(const QString& character);

}  // namespace keyloft::ui
