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

// Counts the kinds of line break to find the one most lines use.
class BreakCount {
public:
    void Add(std::string_view lineBreak) {
        const int kind = lineBreak == "\r\n" ? 0 : lineBreak == "\n" ? 1 : 2;
        if (count_[kind]++ == 0) order_[seen_++] = kind;
    }
    std::string_view Most() const {
        static constexpr std::string_view kBreaks[] = {"\r\n", "\n", "\r"};
        if (seen_ == 0) return {};
        int best = order_[0];
        for (int i = 1; i < seen_; ++i) {
            if (count_[order_[i]] > count_[best]) best = order_[i];
        }
        return kBreaks[best];
    }

private:
    std::size_t count_[3] = {0, 0, 0};
    int order_[3] = {0, 0, 0};
    int seen_ = 0;
};

}  // namespace

bool ReadsAs(std::string_view line, std::string_view text) {
    const LineReading reading = ReadLine(line);
    return reading.kind != LineKind::Ignored && reading.text.Equals(text);
}

std::string_view ReadText(std::string_view line, std::string& scratch) {
    const LineReading reading = ReadLine(line);
    return reading.kind == LineKind::Ignored ? std::string_view() : reading.text.Join(scratch);
}

IniReadingEnd ReadIniInto(std::string_view text, TextArena& arena, IniReadHandler& handler) {
    IniReadingEnd reading;
    std::string scratch;
    BreakCount breaks;

    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) {
        reading.ByteOrderMark = true;
        text.remove_prefix(3);
    }
    // A NUL ends the reading; its bytes and all after it are kept raw.
    std::string_view readable = text;
    if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
        readable =
            text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
    }
    const bool hasCR = std::memchr(readable.data(), '\r', readable.size()) != nullptr;

    const char* const base = readable.data();
    const std::size_t size = readable.size();
    std::size_t pos = 0;
    std::size_t dropStart = 0;  // where the current run of dropped bytes began
    bool inSection = false;

    while (pos < size) {
        // Cut the next line: it ends at LF, at CR LF or at a lone CR.
        const std::size_t lineStart = pos;
        std::size_t lineEnd;
        std::size_t next;
        const void* lf = std::memchr(base + pos, '\n', size - pos);
        std::size_t lfAt =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : size;
        const void* cr = hasCR ? std::memchr(base + pos, '\r', lfAt - pos) : nullptr;
        if (cr != nullptr) {
            lineEnd = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
            next = (lineEnd + 1 < size && base[lineEnd + 1] == '\n') ? lineEnd + 2 : lineEnd + 1;
        } else {
            lineEnd = lfAt;
            next = lf ? lfAt + 1 : size;
        }
        const std::string_view lineBreak(base + lineEnd, next - lineEnd);
        if (!lineBreak.empty()) breaks.Add(lineBreak);
        pos = next;

        const std::string_view line(base + lineStart, lineEnd - lineStart);
        const LineReading r = ReadLine(line);
        if (r.kind == LineKind::Ignored || (r.kind == LineKind::Line && !inSection)) continue;

        std::string_view leading(base + dropStart, lineStart - dropStart);
        if (!inSection) {
            reading.Head = leading;
            leading = {};
        }
        const IniLineBytes bytes{leading, line, lineBreak};
        if (r.kind == LineKind::Header) {
            const std::string_view name = r.name.Join(arena, scratch);
            handler.Section(r.text.Join(arena, scratch), name, bytes);
            ++reading.SectionCount;
            inSection = true;
        } else {
            handler.Line(r.text.Join(arena, scratch), bytes);
            ++reading.KeyCount;
        }
        dropStart = pos;
    }
    if (inSection) {
        reading.Trailing = std::string_view(base + dropStart, size - dropStart);
    } else {
        reading.Head = readable;
    }
    reading.Tail = text.substr(readable.size());
    reading.LineBreak = breaks.Most();
    return reading;
}

namespace {

// Collects the events of a reading into IniSection entries.
class SectionCollector : public IniReadHandler {
public:
    explicit SectionCollector(std::vector<IniSection>& sections) : sections_(sections) {}
    void Section(std::string_view header, std::string_view name,
                 const IniLineBytes& bytes) override {
        IniSection& section = sections_.emplace_back();
        section.Header = header;
        section.Name = name;
        section.HeaderLeading = bytes.leading;
    }
    void Line(std::string_view text, const IniLineBytes& bytes) override {
        IniSection& section = sections_.back();
        if (!bytes.leading.empty())
            section.LinesLeading.push_back({section.Lines.size(), bytes.leading});
        section.Lines.push_back(text);
    }

private:
    std::vector<IniSection>& sections_;
};

}  // namespace

IniReading ReadIni(std::string_view text, TextArena& arena) {
    IniReading reading;
    SectionCollector collector(reading.Sections);
    static_cast<IniReadingEnd&>(reading) = ReadIniInto(text, arena, collector);
    return reading;
}

std::vector<IniSection> ReadIniSections(std::string_view text, TextArena& arena) {
    return ReadIni(text, arena).Sections;
}

}  // namespace keyloft
