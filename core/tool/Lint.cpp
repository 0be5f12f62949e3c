// The lint rules over the file's lines, cut and classified by the reading's
// own scan and line rule.
#include "tool/Lint.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "document/Rules.h"
#include "reading/IniReader.h"
#include "reading/LineRule.h"
#include "reading/LineScan.h"

namespace keyloft {

namespace {

// Calls `line(number, text)` for each line, cut at CR LF, lone CR or LF.
// Returns the number of the line that begins after the last break.
// `text` holds no NUL.
template <class Each>
std::size_t ForEachLine(std::string_view text, Each line) {
    std::size_t number = 1;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* const lineEnd = ScanLineEnd(p, end);
        if (lineEnd == end) {
            line(number, Between(p, end));
            break;
        }
        line(number++, Between(p, lineEnd));
        p = lineEnd + std::max<std::size_t>(BreakLength(lineEnd, end), 1);
    }
    return number;
}

std::string Quoted(std::string_view name) { return "[" + std::string(name) + "]"; }

}  // namespace

std::vector<LintFinding> LintIni(std::string_view text, bool strict) {
    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
    const auto nul = text.find('\0');
    const std::string_view read = text.substr(0, nul);

    std::vector<LintFinding> findings;
    bool inSection = false;
    bool underComment = false;  // the current header is commented
    std::string section;        // the current header as the messages name it
    // Plain section names, upper-cased, with the line and spelling of their
    // first header.
    std::unordered_map<std::string, std::pair<std::size_t, std::string>> names;
    // Keys of the current section upper-cased, with the line and spelling
    // that first gave each.
    std::unordered_map<std::string, std::pair<std::size_t, std::string_view>> keys;

    const std::size_t nulLine = ForEachLine(read, [&](std::size_t number, std::string_view raw) {
        const char* const a = raw.data();
        const auto* eq =
            raw.empty() ? nullptr : static_cast<const char*>(std::memchr(a, '=', raw.size()));
        const LineParts parts = PartsOfLine(a, a + raw.size(), eq);
        if (parts.kind == IniLineShape::Dropped) return;
        const std::string_view trimmed = Between(parts.begin, parts.end);
        const bool hash = trimmed.front() == '#';
        if (hash && !strict) return;
        const bool commented = parts.Commented();
        auto report = [&](std::string message) {
            findings.push_back({number, std::move(message)});
        };

        if (parts.kind == IniLineShape::Header) {
            inSection = true;
            keys.clear();
            underComment = commented;
            if (commented) {
                section = trimmed;
                return;
            }
            const std::string name(Between(parts.from, parts.to));
            section = Quoted(name);
            const auto [it, first] = names.try_emplace(UpperAZ(name), number, name);
            if (first) return;
            const auto& [line, spelling] = it->second;
            if (spelling == name) {
                report("section " + section + " repeats the one on line " + std::to_string(line));
            } else {
                report("section " + section + " differs from " + Quoted(spelling) + " on line " +
                       std::to_string(line) + " only in letter case");
            }
            return;
        }
        if (!inSection) {
            report("text before the first section is not read");
            return;
        }
        if (commented) return;
        if (trimmed.front() == '[') {
            report("line starts with \"[\" but does not end with \"]\": not a section header");
            return;
        }
        if (parts.eq == nullptr) {
            report("line has no \"=\" and is no comment");
            return;
        }
        if (hash) {
            report("line begins with \"#\": a key to the editor, a comment to other readers");
            return;
        }
        const std::string_view key = Between(parts.begin, parts.from);
        if (underComment) {
            report("key " + std::string(key) + " is under the commented header " + section +
                   ": other readers put this key in the section above");
            return;
        }
        const auto [it, first] = keys.try_emplace(UpperAZ(key), number, key);
        if (first) return;
        const auto& [line, spelling] = it->second;
        if (spelling == key) {
            report("key " + std::string(key) + " is given again in " + section +
                   " (first on line " + std::to_string(line) + ")");
        } else {
            report("key " + std::string(key) + " in " + section + " differs from " +
                   std::string(spelling) + " on line " + std::to_string(line) +
                   " only in letter case");
        }
    });

    if (nul != std::string_view::npos) {
        // The NUL stands on the line after the last break before it; a
        // finding of that line's start gives way to it.
        if (!findings.empty() && findings.back().line == nulLine) findings.pop_back();
        findings.push_back({nulLine, "NUL byte: the editor reads no further"});
    }
    return findings;
}

}  // namespace keyloft
