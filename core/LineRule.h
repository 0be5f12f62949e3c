// The rule of one line (IniReader.h tells it in words) as places in the
// line: what the reading makes of it and where its node's text comes from.
// The scanner's ShapeOfLine, ReadText and ReadKeyText are all read off it.
// Core's own: only its sources include it.
#pragma once

#include <string_view>

#include "IniReader.h"

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

// The reading of one line as places in it.
struct LineParts {
    IniLineShape::Kind kind = IniLineShape::Dropped;
    // The line without its outer blanks, and where it goes on after a
    // comment's ";" (`begin` when it has none).
    const char* begin = nullptr;
    const char* end = nullptr;
    const char* body = nullptr;
    // A header: its name between the brackets, less the blanks it loses.
    // A section's line split at its first "=" `eq`: the key ends at `from`
    // and the value begins at `to`. `eq` is nullptr for a line whose text
    // is the trimmed line.
    const char* from = nullptr;
    const char* to = nullptr;
    const char* eq = nullptr;

    // Whether the node's text is the trimmed line: the trims below take
    // nothing, which the first step of each tells (an empty name, or no
    // blank at its end nor, uncommented, at its start; no blank before the
    // "=" nor after it).
    bool Plain() const {
        if (kind == IniLineShape::Header)
            return body + 2 == end || (!IsBlank(end[-2]) && (body != begin || !IsBlank(body[1])));
        return eq == nullptr ||
               ((eq == body || !IsBlank(eq[-1])) && (eq + 1 == end || !IsBlank(eq[1])));
    }
};

// The parts of the line `a`..`b` (without its break) whose first "=" is `eq`
// (nullptr when it has none).
inline LineParts PartsOfLine(const char* a, const char* b, const char* eq) {
    LineParts parts;
    while (a < b && IsBlank(*a)) ++a;
    while (b > a && IsBlank(b[-1])) --b;
    if (a == b) return parts;
    const char* const r = AfterMark(a, b);
    const bool commented = r != a;
    // A comment: ";" alone or before a blank or another ";".
    if (commented && (r == b || IsBlank(*r) || *r == ';')) return parts;
    parts.begin = a;
    parts.end = b;
    parts.body = r;
    if (b - r >= 2 && *r == '[' && b[-1] == ']') {
        // The name between the brackets loses its outer blanks, a commented
        // header's only those at its end.
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
    // "key = value" reads as "key=value": the blanks around the first "="
    // go, unless a commented line starts with it.
    if (eq != nullptr && !(commented && eq == r)) {
        parts.eq = eq;
        parts.from = KeyEnd(r, eq);
        parts.to = ValueBegin(eq, b);
    }
    return parts;
}

// The shape of the line `a`..`b` (without its break) whose first "=" is
// `eq` (nullptr when it has none). Agrees with ReadText: a kept line is
// plain exactly when ReadText gives Trim(line). Allocates nothing; inline
// in the scanner, only the first steps of the trims are left of it, as
// nothing reads the places the rest would find.
inline IniLineShape ShapeOfLine(const char* a, const char* b, const char* eq) {
    const LineParts parts = PartsOfLine(a, b, eq);
    return {parts.kind, parts.Plain()};
}

}  // namespace keyloft
