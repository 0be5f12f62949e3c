// The rule of one line (IniReader.h tells it in words) as places in the
// line: what the reading makes of it and where its node's text comes from.
// The scanner's ShapeOfLine, ReadText and ReadKeyText are all read off it.
// Core's own: only its sources include it.
#pragma once

#include <string_view>

#include "reading/IniReader.h"

namespace keyloft {

// What the reading makes of one line: nothing, a header or a section's line.
// `plain`: the node's text is the line without its outer blanks, so that a
// view of the line is the text and nothing needs building.
struct IniLineShape {
    enum Kind : unsigned char { Dropped, Header, Line };
    Kind kind = Dropped;
    bool plain = false;
};

// The bytes `from`..`to` of a line.
inline std::string_view Between(const char* from, const char* to) {
    return {from, static_cast<std::size_t>(to - from)};
}

// The one step of every trim of the rule: whether a blank stands right
// before `p` (and after `from`), or at `p` (and before `end`).
inline bool BlankBefore(const char* from, const char* p) { return p > from && IsBlank(p[-1]); }
inline bool BlankAt(const char* p, const char* end) { return p < end && IsBlank(*p); }

// Where the key of a line split at its "=" `eq` ends: the blanks before the
// "=" go, back to `from`.
inline const char* KeyEnd(const char* from, const char* eq) {
    while (BlankBefore(from, eq)) --eq;
    return eq;
}

// Where the value after the "=" `eq` begins: the blanks after it go, up to
// `end`.
inline const char* ValueBegin(const char* eq, const char* end) {
    const char* p = eq + 1;
    while (BlankAt(p, end)) ++p;
    return p;
}

// Where the line `begin`..`end` (trimmed) goes on after its comment mark.
inline const char* AfterMark(const char* begin, const char* end) {
    return begin < end && *begin == ';' ? begin + 1 : begin;
}

// The steps of the rule that PartsOfLine and the scanner's ShapeOfLine
// both take, in this order.

// The line without its outer blanks: `a` and `b` move in.
inline void TrimLine(const char*& a, const char*& b) {
    while (a < b && IsBlank(*a)) ++a;
    while (b > a && IsBlank(b[-1])) --b;
}

// Whether a commented line whose text after its ";" is `body`..`b` is a
// comment the reading drops: ";" alone, or before a blank or another ";".
inline bool IsPlainComment(const char* body, const char* b) {
    return body == b || IsBlank(*body) || *body == ';';
}

// Whether `body`..`b`, the trimmed line after its comment mark, is a
// header: "[" name "]".
inline bool IsHeaderText(const char* body, const char* b) {
    return b - body >= 2 && *body == '[' && b[-1] == ']';
}

// Whether a section's line is split at its first "=" `eq` (nullptr when it
// has none): "key = value" reads as "key=value", the blanks around the
// first "=" gone, unless a commented line starts with it. A line not split
// reads as its trimmed self.
inline bool SplitsAt(bool commented, const char* body, const char* eq) {
    return eq != nullptr && !(commented && eq == body);
}

// The reading of one line as places in it.
struct LineParts {
    IniLineShape::Kind kind = IniLineShape::Dropped;
    // The line without its outer blanks, and where it goes on after a
    // comment's ";" (`begin` when it has none).
    const char* begin = nullptr;
    const char* end = nullptr;
    const char* body = nullptr;
    // A header: its name between the brackets, less the blanks it loses
    // (a commented header's only those at its end). A section's line split
    // at `eq` (SplitsAt): the key ends at `from` and the value begins at
    // `to`; `eq` is nullptr for a line not split.
    const char* from = nullptr;
    const char* to = nullptr;
    const char* eq = nullptr;

    bool Commented() const { return body != begin; }
};

// The parts of the line `a`..`b` (without its break) whose first "=" is `eq`
// (nullptr when it has none).
inline LineParts PartsOfLine(const char* a, const char* b, const char* eq) {
    LineParts parts;
    TrimLine(a, b);
    if (a == b) return parts;
    const bool commented = *a == ';';
    const char* const r = commented ? a + 1 : a;
    if (commented && IsPlainComment(r, b)) return parts;
    parts.begin = a;
    parts.end = b;
    parts.body = r;
    if (IsHeaderText(r, b)) {
        const char* in = r + 1;
        const char* out = b - 1;
        if (!commented)
            while (BlankAt(in, out)) ++in;
        while (BlankBefore(in, out)) --out;
        parts.kind = IniLineShape::Header;
        parts.from = in;
        parts.to = out;
        return parts;
    }
    parts.kind = IniLineShape::Line;
    if (SplitsAt(commented, r, eq)) {
        parts.eq = eq;
        parts.from = KeyEnd(r, eq);
        parts.to = ValueBegin(eq, b);
    }
    return parts;
}

// The shape of the line `a`..`b` (without its break) whose first "=" is
// `eq` (nullptr when it has none), by the same steps. Agrees with
// ReadText: a kept line is plain exactly when ReadText gives Trim(line),
// that is when the trims of PartsOfLine take nothing, which the first step
// of each tells. Allocates nothing; the scanner's own, inline in it.
inline IniLineShape ShapeOfLine(const char* a, const char* b, const char* eq) {
    TrimLine(a, b);
    if (a == b) return {};
    const bool commented = *a == ';';
    const char* const r = commented ? a + 1 : a;
    if (commented && IsPlainComment(r, b)) return {};
    if (IsHeaderText(r, b)) {
        // An empty name, or no blank at its end nor, uncommented, at its start.
        const char* const in = r + 1;
        const char* const out = b - 1;
        return {IniLineShape::Header,
                in == out || (!IsBlank(out[-1]) && (commented || !IsBlank(*in)))};
    }
    if (!SplitsAt(commented, r, eq)) return {IniLineShape::Line, true};
    // No blank before the "=" nor after it.
    return {IniLineShape::Line, (eq == r || !IsBlank(eq[-1])) && (eq + 1 == b || !IsBlank(eq[1]))};
}

}  // namespace keyloft
