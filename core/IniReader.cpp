// The INI reading rules.
#include "IniReader.h"

#include <cstring>

namespace keyloft {

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

namespace {

std::string_view TrimEnd(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    return text.substr(0, end);
}

// A text the reading gives, as up to four views of the line it came from.
// Views that follow each other in memory are merged, so that a text that
// stands as such in the file is one view of it and costs nothing to keep.
class Pieces {
public:
    void Add(std::string_view piece) {
        if (piece.empty()) return;
        if (count_ > 0 && parts_[count_ - 1].data() + parts_[count_ - 1].size() == piece.data()) {
            parts_[count_ - 1] = {parts_[count_ - 1].data(),
                                  parts_[count_ - 1].size() + piece.size()};
            return;
        }
        parts_[count_++] = piece;
    }
    // The text in one piece: a view of the line, or a copy in `arena`.
    std::string_view Join(TextArena& arena, std::string& scratch) const {
        if (count_ == 0) return {};
        if (count_ == 1) return parts_[0];
        scratch.clear();
        for (int i = 0; i < count_; ++i) scratch.append(parts_[i]);
        return arena.Store(scratch);
    }
    std::string_view Join(std::string& scratch) const {
        if (count_ <= 1) return count_ == 0 ? std::string_view() : parts_[0];
        scratch.clear();
        for (int i = 0; i < count_; ++i) scratch.append(parts_[i]);
        return scratch;
    }
    bool Equals(std::string_view text) const {
        for (int i = 0; i < count_; ++i) {
            if (text.substr(0, parts_[i].size()) != parts_[i]) return false;
            text.remove_prefix(parts_[i].size());
        }
        return text.empty();
    }

private:
    std::string_view parts_[4];
    int count_ = 0;
};

enum class LineKind { Ignored, Header, Line };

// The reading of one line, apart from where it stands: what it is, and the
// texts of its node (and of its name, for a header).
struct LineReading {
    LineKind kind = LineKind::Ignored;
    Pieces text;
    Pieces name;
};

// "key=value" from the two sides of the first "=", trimmed; the "=" itself
// is the file's, so that an untrimmed line stays one view.
void KeyValue(std::string_view r, std::size_t eq, Pieces& out) {
    out.Add(Trim(r.substr(0, eq)));
    out.Add(r.substr(eq, 1));
    out.Add(Trim(r.substr(eq + 1)));
}

LineReading ReadLine(std::string_view line) {
    LineReading reading;
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) return reading;
    const bool commented = trimmed.front() == ';';
    if (commented && (trimmed.size() == 1 || IsBlank(trimmed[1]) || trimmed[1] == ';'))
        return reading;
    const std::string_view r = commented ? trimmed.substr(1) : trimmed;
    const std::string_view mark = trimmed.substr(0, commented ? 1 : 0);

    if (r.size() >= 2 && r.front() == '[' && r.back() == ']') {
        reading.kind = LineKind::Header;
        const std::string_view between = r.substr(1, r.size() - 2);
        const std::string_view inner = commented ? TrimEnd(between) : Trim(between);
        reading.name.Add(mark);
        reading.name.Add(inner);
        reading.text.Add(mark);
        reading.text.Add(r.substr(0, 1));
        reading.text.Add(inner);
        reading.text.Add(r.substr(r.size() - 1));
        return reading;
    }
    reading.kind = LineKind::Line;
    const auto eq = r.find('=');
    if (eq == std::string_view::npos || (commented && eq == 0)) {
        reading.text.Add(trimmed);
    } else {
        reading.text.Add(mark);
        KeyValue(r, eq, reading.text);
    }
    return reading;
}

}  // namespace

bool ReadsAs(std::string_view line, std::string_view text) {
    const LineReading reading = ReadLine(line);
    return reading.kind != LineKind::Ignored && reading.text.Equals(text);
}

std::string_view ReadText(std::string_view line, std::string& scratch) {
    const LineReading reading = ReadLine(line);
    return reading.kind == LineKind::Ignored ? std::string_view() : reading.text.Join(scratch);
}

std::string_view ReadKeyText(std::string_view line, std::string& scratch) {
    const std::string_view trimmed = Trim(line);
    // The mark of a commented line, and the first "=" after it (there is
    // one: a line without one is its trimmed self).
    const std::size_t mark = trimmed.front() == ';' ? 1 : 0;
    const std::size_t eq = trimmed.find('=', mark);
    std::size_t keyEnd = eq;
    while (keyEnd > mark && IsBlank(trimmed[keyEnd - 1])) --keyEnd;
    std::size_t value = eq + 1;
    while (value < trimmed.size() && IsBlank(trimmed[value])) ++value;
    scratch.assign(trimmed.substr(0, keyEnd));
    scratch += '=';
    scratch.append(trimmed.substr(value));
    return scratch;
}

IniScanner::IniScanner(std::string_view text) {
    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) {
        bom_ = true;
        text.remove_prefix(3);
    }
    text_ = pos_ = dropStart_ = text.data();
    limit_ = stop_ = text.data() + text.size();
}

IniReadingEnd IniScanner::End() const {
    static constexpr std::string_view kBreaks[] = {"\r\n", "\n", "\r"};
    IniReadingEnd reading;
    const std::string_view readable(text_, static_cast<std::size_t>(stop_ - text_));
    if (inSection_) {
        reading.Head = head_;
        reading.Trailing = {dropStart_, static_cast<std::size_t>(stop_ - dropStart_)};
    } else {
        reading.Head = readable;
    }
    reading.Tail = {stop_, static_cast<std::size_t>(limit_ - stop_)};
    reading.ByteOrderMark = bom_;
    if (seen_ > 0) {
        // The break most lines end with; on a tie the one met first.
        int best = order_[0];
        for (int i = 1; i < seen_; ++i) {
            if (breaks_[order_[i]] > breaks_[best]) best = order_[i];
        }
        reading.LineBreak = kBreaks[best];
    }
    reading.SectionCount = sections_;
    reading.KeyCount = keys_;
    return reading;
}

IniReading ReadIni(std::string_view text, TextArena& arena) {
    IniReading reading;
    IniScanner scanner(text);
    IniItem item;
    std::string scratch;
    while (scanner.Next(item)) {
        const std::string_view line = item.bytes.line;
        if (item.header) {
            const LineReading r = ReadLine(line);
            IniSection& section = reading.Sections.emplace_back();
            section.Name = r.name.Join(arena, scratch);
            section.Header = r.text.Join(arena, scratch);
            section.HeaderLeading = item.bytes.leading;
            continue;
        }
        IniSection& section = reading.Sections.back();
        if (!item.bytes.leading.empty())
            section.LinesLeading.push_back({section.Lines.size(), item.bytes.leading});
        section.Lines.push_back(item.plain ? Trim(line) : ReadLine(line).text.Join(arena, scratch));
    }
    static_cast<IniReadingEnd&>(reading) = scanner.End();
    return reading;
}

std::vector<IniSection> ReadIniSections(std::string_view text, TextArena& arena) {
    return ReadIni(text, arena).Sections;
}

}  // namespace keyloft
