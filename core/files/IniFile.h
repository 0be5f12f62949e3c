// Loading a file into the document and saving the document to a file.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "files/Paths.h"

namespace keyloft {

class Document;
class Node;

struct LoadResult {
    Node* root = nullptr;
    std::size_t keyCount = 0;
    std::size_t sectionCount = 0;
};

// Reads the whole file at `path` and replaces the document's tree by its
// reading: a root named after the file, one section node per header, one key
// node per line. Throws FileError (or Failure when the file cannot fit in
// memory) before anything has changed. Never writes to the file. Leaves
// ItemsChanged as it was.
LoadResult LoadIniFile(Document& doc, const std::string& path);

// "Loaded, N Keys in M sections".
std::string LoadReport(const LoadResult& result);

struct SaveResult {
    bool backupMade = false;
};

// Writes every node but the root, in tree order, to `path`, keeping a file
// already there as path + ".in1". The new content goes to a temporary file in
// the same folder first and replaces the target atomically, so any failure
// (a FileError) leaves the target and its backup exactly as they were. The
// replaced file's permission bits (and owner, where allowed) carry over; a
// target that is a symbolic link is saved through the link. Does not touch
// ItemsChanged.
// With `backup` false the old file is replaced without a ".in1" copy (the
// command-line tool's default).
SaveResult SaveIniFile(const Document& doc, const std::string& path, bool backup = true);

// The bytes SaveIniFile writes, handed to `write` in pieces of about a
// megabyte, or all at once as a string.
void SerializeDocument(const Document& doc, const std::function<void(std::string_view)>& write);
std::string SerializeDocument(const Document& doc);

// "INI File saved as NAME" with ", original file was backed up as *.in1"
// when a backup was made.
std::string SaveReport(std::string_view name, const SaveResult& result);

}  // namespace keyloft
