// The INI reading: the rule of one line (LineRule.h) made into node texts,
// and the whole text read through the scanner (LineScan.h).
#include "reading/IniReader.h"

#include <cstring>

#include "reading/LineRule.h"
#include "reading/LineScan.h"

namespace keyloft {

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

namespace {

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

// The reading of one line, apart from where it stands: what it is, and the
// texts of its node (and of its name, for a header).
struct LineReading {
    IniLineShape::Kind kind = IniLineShape::Dropped;
    Pieces text;
    Pieces name;
};

LineReading ReadLine(std::string_view line) {
    const char* const a = line.data();
    const char* const b = a + line.size();
    const auto* eq =
        line.empty() ? nullptr : static_cast<const char*>(std::memchr(a, '=', line.size()));
    const LineParts parts = PartsOfLine(a, b, eq);
    LineReading reading;
    reading.kind = parts.kind;
    switch (parts.kind) {
        case IniLineShape::Dropped:
            break;
        case IniLineShape::Header:
            // The mark and "[", the name, "]".
            reading.name.Add(Between(parts.begin, parts.body));
            reading.name.Add(Between(parts.from, parts.to));
            reading.text.Add(Between(parts.begin, parts.body + 1));
            reading.text.Add(Between(parts.from, parts.to));
            reading.text.Add(Between(parts.end - 1, parts.end));
            break;
        case IniLineShape::Line:
            if (parts.eq == nullptr) {
                reading.text.Add(Between(parts.begin, parts.end));
            } else {
                // The "=" itself is the file's, so that an untrimmed line stays
                // one view.
                reading.text.Add(Between(parts.begin, parts.from));
                reading.text.Add(Between(parts.eq, parts.eq + 1));
                reading.text.Add(Between(parts.to, parts.end));
            }
            break;
    }
    return reading;
}

}  // namespace

bool ReadsAs(std::string_view line, std::string_view text) {
    const LineReading reading = ReadLine(line);
    return reading.kind != IniLineShape::Dropped && reading.text.Equals(text);
}

std::string_view ReadText(std::string_view line, std::string& scratch) {
    const LineReading reading = ReadLine(line);
    return reading.kind == IniLineShape::Dropped ? std::string_view() : reading.text.Join(scratch);
}

std::string_view ReadKeyText(std::string_view line, std::string& scratch) {
    // The rule's split of a key line, without its other steps: the line has
    // a first "=" after its mark (one without is its trimmed self).
    const std::string_view trimmed = Trim(line);
    const char* const a = trimmed.data();
    const char* const b = a + trimmed.size();
    const char* const body = AfterMark(a, b);
    const auto* eq =
        static_cast<const char*>(std::memchr(body, '=', static_cast<std::size_t>(b - body)));
    scratch.assign(a, KeyEnd(body, eq));
    scratch += '=';
    scratch.append(ValueBegin(eq, b), b);
    return scratch;
}

const char* FindLineEnd(const char* p, const char* end) { return ScanLineEnd(p, end); }

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
