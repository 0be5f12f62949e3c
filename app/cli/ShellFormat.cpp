// sh quoting of get --format=sh.
#include "ShellFormat.h"

namespace keyloft::cli {

namespace {

bool IsNameStart(char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsShellName(std::string_view name) {
    if (name.empty() || !IsNameStart(name.front())) return false;
    for (const char c : name) {
        if (!IsNameStart(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

std::string ShellAssignment(std::string_view name, std::string_view value) {
    std::string line(name);
    line += "='";
    for (const char c : value) {
        if (c == '\'') {
            line += "'\\''";
        } else {
            line += c;
        }
    }
    line += '\'';
    return line;
}

}  // namespace keyloft::cli
