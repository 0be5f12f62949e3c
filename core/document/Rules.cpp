// The editor's small text rules.
#include "document/Rules.h"

#include <algorithm>
#include <initializer_list>

#include "reading/IniReader.h"

namespace keyloft {

namespace {
constexpr char UpperAZChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    return text;
}
}  // namespace

std::string UpperAZ(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = UpperAZChar(c);
    return upper;
}

bool EndsWithIni(std::string_view text) {
    return text.size() >= 4 && UpperAZ(text.substr(text.size() - 4)) == ".INI";
}

std::string NewIniRootText(std::string_view name) {
    return EndsWithIni(name) ? std::string(name) : Joined({name, ".ini"});
}

std::string NewSectionText(std::string_view name) {
    if (name.find('[') != std::string_view::npos) return std::string(name);
    return Joined({"[", name, "]"});
}

std::string NewKeyText(std::string_view name, std::string_view value) {
    return Joined({name, "=", value});
}

std::string CommentedText(std::string_view text) { return Joined({";", text}); }

std::string UncommentedText(std::string_view text) {
    return text.empty() ? std::string() : std::string(text.substr(1));
}

namespace {
// The first byte above 32 of `line`, or its size.
std::size_t FirstNonBlank(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && IsBlank(line[at])) ++at;
    return at;
}
}  // namespace

std::string CommentedLine(std::string_view line) {
    const std::size_t at = FirstNonBlank(line);
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line.substr(0, at));
    text += ';';
    text.append(line.substr(at));
    return text;
}

std::optional<std::string> UncommentedLine(std::string_view line) {
    const std::size_t at = FirstNonBlank(line);
    if (at == line.size() || line[at] != ';') return std::nullopt;
    std::string text(line);
    text.erase(at, 1);
    return text;
}

std::optional<std::string> LineWithNewValue(std::string_view line, std::string_view oldText,
                                            std::string_view newText) {
    const std::size_t oldEq = oldText.find('=');
    const std::size_t newEq = newText.find('=');
    if (oldEq == std::string_view::npos || newEq == std::string_view::npos) return std::nullopt;
    if (oldText.substr(0, oldEq) != newText.substr(0, newEq)) return std::nullopt;
    const bool commented = IsCommented(oldText);
    if (commented && oldEq == 1) return std::nullopt;
    if (line != oldText && !ReadsAs(line, oldText)) return std::nullopt;
    // The line's own first "=", after its comment mark: the reading divides
    // the line there too.
    const std::size_t start = FirstNonBlank(line) + (commented ? 1 : 0);
    const std::size_t eq = line.find('=', start);
    if (eq == std::string_view::npos) return std::nullopt;
    std::size_t value = eq + 1;
    while (value < line.size() && IsBlank(line[value])) ++value;
    std::size_t end = line.size();
    while (end > value && IsBlank(line[end - 1])) --end;
    std::string text(line.substr(0, value));
    text.append(Trim(newText.substr(newEq + 1)));
    text.append(line.substr(end));
    return text;
}

bool FindMatches(std::string_view text, std::string_view upperNeedle) {
    if (upperNeedle.empty() || text.size() < upperNeedle.size()) return false;
    const auto it = std::search(text.begin(), text.end(), upperNeedle.begin(), upperNeedle.end(),
                                [](char a, char b) { return UpperAZChar(a) == b; });
    return it != text.end();
}

NodeLook NodeLookFor(int level, std::string_view text, bool selected) {
    NodeLook look{NodeColour::Black, selected ? NodeBackground::Silver : NodeBackground::Window,
                  NodeFontStyle::Regular};
    const bool commented = !text.empty() && text.front() == ';';
    if (level == 0) {
        look.style = NodeFontStyle::Bold;
        if (!EndsWithIni(text)) look.colour = NodeColour::Red;
    } else if (level == 1) {
        look.colour = NodeColour::Blue;
        if (text.empty() || text.front() != '[') look.colour = NodeColour::Red;
        if (text.empty() || text.back() != ']') look.colour = NodeColour::Red;
        if (commented) {
            look.colour = NodeColour::Purple;
            look.style = NodeFontStyle::Italic;
        }
    } else {
        look.colour = NodeColour::Green;
        if (commented) {
            look.colour = NodeColour::Purple;
            look.style = NodeFontStyle::Italic;
        }
        if (text.find('=') == std::string_view::npos) look.colour = NodeColour::Red;
    }
    return look;
}

}  // namespace keyloft
