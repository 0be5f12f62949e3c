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

// Whether `b` starts right where `a` ends in memory.
bool Adjacent(std::string_view a, const char* b) { return a.data() + a.size() == b; }

// Builds texts that are not a plain view of the file into the arena.
class Builder {
public:
    explicit Builder(TextArena& arena) : arena_(arena) {}

    template <class... Parts>
    std::string_view Join(Parts... parts) {
        scratch_.clear();
        (scratch_.append(parts), ...);
        return arena_.Store(scratch_);
    }

private:
    TextArena& arena_;
    std::string scratch_;
};

// "key=value" from the two sides of the first "=", trimmed. `whole` is the
// text the two sides came from; when trimming removed nothing next to the
// "=", the result is a view of it.
std::string_view KeyValue(std::string_view prefix, std::string_view before,
                          std::string_view after, std::string_view whole, Builder& builder) {
    const std::string_view key = Trim(before);
    const std::string_view value = Trim(after);
    const char* equals = before.data() + before.size();
    const bool contiguous = key.data() == before.data() && Adjacent(key, equals) &&
                            value.data() == equals + 1 && Adjacent(value, after.data() + after.size()) &&
                            (prefix.empty() || Adjacent(prefix, key.data()));
    if (contiguous) {
        const char* begin = prefix.empty() ? key.data() : prefix.data();
        const char* end = value.data() + value.size();
        if (begin >= whole.data() && end <= whole.data() + whole.size())
            return {begin, static_cast<std::size_t>(end - begin)};
    }
    return builder.Join(prefix, key, std::string_view("="), value);
}

}  // namespace

IniReadingEnd ReadIniInto(std::string_view text, TextArena& arena, IniReadHandler& handler) {
    IniReadingEnd reading;
    Builder builder(arena);

    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) {
        reading.ByteOrderMark = true;
        text.remove_prefix(3);
    }
    // A NUL ends the reading; its bytes and all after it are kept raw.
    std::string_view readable = text;
    if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
        readable = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
    }
    const bool hasCR = std::memchr(readable.data(), '\r', readable.size()) != nullptr;

    const char* const base = readable.data();
    const std::size_t size = readable.size();
    std::size_t pos = 0;
    std::size_t dropStart = 0;  // where the current run of dropped bytes began
    bool inSection = false;

    auto dropped = [&](std::size_t lineStart) {
        return std::string_view(base + dropStart, lineStart - dropStart);
    };

    while (pos < size) {
        // Cut the next line: it ends at LF, at CR LF or at a lone CR.
        const std::size_t lineStart = pos;
        std::size_t lineEnd;
        std::size_t next;
        const void* lf = std::memchr(base + pos, '\n', size - pos);
        std::size_t lfAt = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : size;
        const void* cr = hasCR ? std::memchr(base + pos, '\r', lfAt - pos) : nullptr;
        if (cr != nullptr) {
            lineEnd = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
            next = (lineEnd + 1 < size && base[lineEnd + 1] == '\n') ? lineEnd + 2 : lineEnd + 1;
        } else {
            lineEnd = lfAt;
            next = lf ? lfAt + 1 : size;
        }
        if (reading.FirstLineBreak.empty() && next > lineEnd) {
            reading.FirstLineBreak = std::string_view(base + lineEnd, next - lineEnd);
        }
        pos = next;

        const std::string_view trimmed = Trim(std::string_view(base + lineStart, lineEnd - lineStart));
        if (trimmed.empty()) continue;
        const bool commented = trimmed.front() == ';';
        if (commented && (trimmed.size() == 1 || IsBlank(trimmed[1]) || trimmed[1] == ';')) continue;
        const std::string_view r = commented ? trimmed.substr(1) : trimmed;

        if (r.size() >= 2 && r.front() == '[' && r.back() == ']') {
            const std::string_view between = r.substr(1, r.size() - 2);
            std::string_view header;
            std::string_view name;
            if (!commented) {
                name = Trim(between);
                header = name.size() == between.size()
                             ? r
                             : builder.Join(std::string_view("["), name, std::string_view("]"));
            } else {
                const std::string_view inner = TrimEnd(between);
                name = builder.Join(std::string_view(";"), inner);
                header = inner.size() == between.size()
                             ? trimmed
                             : builder.Join(std::string_view(";["), inner, std::string_view("]"));
            }
            handler.Section(header, name, dropped(lineStart));
            ++reading.SectionCount;
            dropStart = pos;
            reading.NulCutsLastLine = next == lineEnd && readable.size() < text.size();
            inSection = true;
            continue;
        }
        if (!inSection) continue;

        std::string_view line;
        const auto eq = r.find('=');
        if (eq == std::string_view::npos) {
            line = trimmed;
        } else if (!commented) {
            line = KeyValue({}, r.substr(0, eq), r.substr(eq + 1), trimmed, builder);
        } else if (eq == 0) {
            line = trimmed;
        } else {
            line = KeyValue(trimmed.substr(0, 1), r.substr(0, eq), r.substr(eq + 1), trimmed, builder);
        }
        handler.Line(line, dropped(lineStart));
        ++reading.KeyCount;
        dropStart = pos;
        reading.NulCutsLastLine = next == lineEnd && readable.size() < text.size();
    }
    if (!inSection) {
        reading.Head = readable;
        dropStart = readable.size();
    }
    reading.Tail = std::string_view(base + dropStart, text.size() - dropStart);
    return reading;
}

namespace {

// Collects the events of a reading into IniSection entries.
class SectionCollector : public IniReadHandler {
public:
    explicit SectionCollector(std::vector<IniSection>& sections) : sections_(sections) {}
    void Section(std::string_view header, std::string_view name, std::string_view leading) override {
        IniSection& section = sections_.emplace_back();
        section.Header = header;
        section.Name = name;
        section.HeaderLeading = leading;
    }
    void Line(std::string_view text, std::string_view leading) override {
        IniSection& section = sections_.back();
        if (!leading.empty()) section.LinesLeading.push_back({section.Lines.size(), leading});
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
