// Line diff: common ends stripped, Myers' shortest edit script in between.
#include "tool/UnifiedDiff.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace keyloft {

namespace {

using Lines = std::vector<std::string_view>;

// Lines with their LF, so that a last line without one differs from the
// same text with one, as in diff.
Lines CutLines(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// A run of lines a[aFrom, aTo) replaced by b[bFrom, bTo).
struct Change {
    std::size_t aFrom, aTo, bFrom, bTo;
};

// Past this many edits the middle is shown as one replaced block: the
// search keeps a row of 2d + 1 diagonals for each edit d.
constexpr std::ptrdiff_t kMaxEdits = 1000;

// Myers' greedy search over a[a0, a1) and b[b0, b1); appends the changes in
// order. Returns false when the script would need more than kMaxEdits.
bool Myers(const Lines& a, const Lines& b, std::size_t a0, std::size_t a1, std::size_t b0,
           std::size_t b1, std::vector<Change>& out) {
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(a1 - a0);
    const std::ptrdiff_t m = static_cast<std::ptrdiff_t>(b1 - b0);
    const std::ptrdiff_t max = std::min(n + m, kMaxEdits);
    const std::ptrdiff_t offset = max + 1;
    std::vector<std::ptrdiff_t> v(static_cast<std::size_t>(2 * max + 3), 0);
    std::vector<std::vector<std::ptrdiff_t>> trace;
    auto at = [&](std::ptrdiff_t k) -> std::ptrdiff_t& {
        return v[static_cast<std::size_t>(k + offset)];
    };
    auto same = [&](std::ptrdiff_t x, std::ptrdiff_t y) {
        return a[a0 + static_cast<std::size_t>(x)] == b[b0 + static_cast<std::size_t>(y)];
    };
    std::ptrdiff_t found = -1;
    for (std::ptrdiff_t d = 0; d <= max && found < 0; ++d) {
        for (std::ptrdiff_t k = -d; k <= d; k += 2) {
            std::ptrdiff_t x =
                (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            std::ptrdiff_t y = x - k;
            while (x < n && y < m && same(x, y)) ++x, ++y;
            at(k) = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
        trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
    }
    if (found < 0) return false;

    // Walk back from the end, one edit per row, collecting single-line edits.
    struct Edit {
        bool insert;
        std::ptrdiff_t x, y;  // the line removed from a, or added from b
    };
    std::vector<Edit> edits;
    std::ptrdiff_t x = n, y = m;
    for (std::ptrdiff_t d = found; d > 0; --d) {
        const std::vector<std::ptrdiff_t>& prev = trace[static_cast<std::size_t>(d - 1)];
        auto prevAt = [&](std::ptrdiff_t k) { return prev[static_cast<std::size_t>(k + d - 1)]; };
        const std::ptrdiff_t k = x - y;
        const bool down = k == -d || (k != d && prevAt(k - 1) < prevAt(k + 1));
        const std::ptrdiff_t prevK = down ? k + 1 : k - 1;
        const std::ptrdiff_t prevX = prevAt(prevK);
        const std::ptrdiff_t prevY = prevX - prevK;
        edits.push_back({down, prevX, prevY});
        x = prevX;
        y = prevY;
    }
    std::reverse(edits.begin(), edits.end());

    // Join neighbouring edits into changes.
    for (const Edit& e : edits) {
        const std::size_t ex = a0 + static_cast<std::size_t>(e.x);
        const std::size_t ey = b0 + static_cast<std::size_t>(e.y);
        if (!out.empty() && out.back().aTo == ex && out.back().bTo == ey) {
            (e.insert ? out.back().bTo : out.back().aTo) += 1;
        } else {
            out.push_back({ex, ex + (e.insert ? 0 : 1), ey, ey + (e.insert ? 1 : 0)});
        }
    }
    return true;
}

void AppendLine(std::string& out, char mark, std::string_view line) {
    out.push_back(mark);
    out.append(line);
    if (line.empty() || line.back() != '\n') out.append("\n\\ No newline at end of file\n");
}

// "-3,2", "-3" for one line, "-2,0" (the line before) for none.
std::string Range(char mark, std::size_t from, std::size_t count) {
    std::string text(1, mark);
    text += std::to_string(count == 0 ? from : from + 1);
    if (count != 1) text += "," + std::to_string(count);
    return text;
}

}  // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after, std::string_view label,
                        int context) {
    if (before == after) return {};
    const Lines a = CutLines(before);
    const Lines b = CutLines(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;

    std::vector<Change> changes;
    const std::size_t aEnd = a.size() - tail, bEnd = b.size() - tail;
    if (!Myers(a, b, head, aEnd, head, bEnd, changes)) changes = {{head, aEnd, head, bEnd}};

    const std::size_t c = static_cast<std::size_t>(context);
    std::string out = "--- " + std::string(label) + "\n+++ " + std::string(label) + "\n";
    for (std::size_t first = 0; first < changes.size();) {
        // Changes whose gaps are at most twice the context share a hunk.
        std::size_t last = first;
        while (last + 1 < changes.size() && changes[last + 1].aFrom - changes[last].aTo <= 2 * c)
            ++last;
        const std::size_t aFrom = changes[first].aFrom - std::min(c, changes[first].aFrom);
        const std::size_t bFrom = changes[first].bFrom - (changes[first].aFrom - aFrom);
        const std::size_t aTo = std::min(a.size(), changes[last].aTo + c);
        const std::size_t bTo = changes[last].bTo + (aTo - changes[last].aTo);
        out +=
            "@@ " + Range('-', aFrom, aTo - aFrom) + " " + Range('+', bFrom, bTo - bFrom) + " @@\n";
        std::size_t ai = aFrom;
        for (std::size_t i = first; i <= last; ++i) {
            const Change& ch = changes[i];
            for (; ai < ch.aFrom; ++ai) AppendLine(out, ' ', a[ai]);
            for (std::size_t k = ch.aFrom; k < ch.aTo; ++k) AppendLine(out, '-', a[k]);
            for (std::size_t k = ch.bFrom; k < ch.bTo; ++k) AppendLine(out, '+', b[k]);
            ai = ch.aTo;
        }
        for (; ai < aTo; ++ai) AppendLine(out, ' ', a[ai]);
        first = last + 1;
    }
    return out;
}

}  // namespace keyloft
