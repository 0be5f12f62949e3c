// Reading the settings that merge applies.
#include "MergeInput.h"

#include <cstring>
#include <map>
#include <utility>

#include "reading/IniReader.h"

namespace keyloft::cli {

std::vector<Setting> ReadSettings(std::string_view text, std::string& error) {
    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
    std::vector<Setting> settings;
    // Where each (section, key) stands in `settings`.
    std::map<std::pair<std::string, std::string>, std::size_t> places;
    std::string section;
    bool inSection = false;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        ++number;
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view raw = text.substr(start, end - start);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);

        auto fail = [&](const std::string& why) {
            error = "standard input, line " + std::to_string(number) + ": " + why;
            return std::vector<Setting>();
        };
        if (raw.find('\0') != std::string_view::npos) return fail("NUL byte");
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            inSection = true;
            continue;
        }
        if (!inSection) return fail("a setting before the first [section]");
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return fail("no \"=\" in the line");
        std::string key(Trim(line.substr(0, eq)));
        if (key.empty()) return fail("no key before \"=\"");
        std::string value(Trim(line.substr(eq + 1)));
        const auto [it, first] = places.try_emplace({section, key}, settings.size());
        if (first) {
            settings.push_back({section, std::move(key), std::move(value)});
        } else {
            settings[it->second].value = std::move(value);
        }
    }
    return settings;
}

}  // namespace keyloft::cli
