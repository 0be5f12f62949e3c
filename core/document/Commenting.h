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

// Comment puts one ";" into the line of the node and of each of its keys
// that is not commented, in front of the line's first byte above 32; Remove
// Comment takes that ";" out of the node's line and out of each of its
// commented keys' lines. Every other byte of a line stays. Keys already in
// the wanted state stay as they are. Each changed node then shows its new
// line as a reload reads it; where the reading would drop the line or take
// it as the other kind of node (";" alone, ";;x", "; x", a key ";[x]"), it
// shows ";" + its text, or its text without the first character. The caller
// has checked CommentRefusal.
void SetCommented(Document& doc, Node* node, bool comment);

}  // namespace keyloft
