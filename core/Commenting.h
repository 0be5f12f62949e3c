// Comment and Remove Comment on a node of the document: the one path the
// editor's commands and the command-line tool both take.
#pragma once

#include <string_view>

namespace keyloft {

class Document;
class Node;

// Why Comment (`comment` true) or Remove Comment refuses a node whose text is
// `text`: "This line is already commented" or "No comment on selected line";
// nullptr when the command may go on.
const char* CommentRefusal(std::string_view text, bool comment);

// Comment puts ";" in front of the node's text and in front of each of its
// keys that has none; Remove Comment takes the first character off the
// node's text and off each of its keys that begins with ";". Keys already in
// the wanted state stay as they are. The caller has checked CommentRefusal.
void SetCommented(Document& doc, Node* node, bool comment);

}  // namespace keyloft
