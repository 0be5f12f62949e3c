// Times the core's load, save and text dump on generated INI files of one
// thousand to ten million lines, against what the machine needs to merely
// read the bytes (and count lines) and to write them back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "BenchSupport.h"
#include "document/Document.h"
#include "files/IniFile.h"
#include "print/Dump.h"

namespace {

using namespace keyloft::bench;

constexpr std::size_t kTargetLines = 1'000'000;   // where the targets apply
constexpr double kLoadTarget = 3.0;               // load <= 3 x read+count
constexpr double kSaveTarget = 2.0;               // save <= 2 x write+fsync
constexpr std::size_t kLinearLines = 10'000'000;  // loads linearly up to here:
constexpr double kLinearTarget = 1.5;             // time per line <= 1.5 x that at kTargetLines
constexpr double kUtf16Target = 2.0;              // a UTF-16 file loads <= 2 x its UTF-8 twin

struct Options {
    std::vector<std::size_t> sizes = {1'000, 100'000, 1'000'000, 10'000'000};
    std::size_t maxLines = 10'000'000;
    int runs = 3;
    std::vector<Shape> shapes = {Shape::Typical, Shape::OneKey};
    std::string keepDir;
    bool generateOnly = false;
};

// ---------------------------------------------------------------------------
// Baselines

std::unique_ptr<char[]> ReadAll(const std::string& path, std::size_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) Fail("cannot open " + path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail("cannot stat " + path);
    size = static_cast<std::size_t>(st.st_size);
    std::unique_ptr<char[]> data(new char[size + 1]);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, data.get() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot read " + path);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    size = done;
    return data;
}

// Read the whole file into memory and count its line feeds.
std::size_t ReadAndCountLines(const std::string& path) {
    std::size_t size = 0;
    std::unique_ptr<char[]> data = ReadAll(path, size);
    std::size_t count = 0;
    const char* p = data.get();
    const char* end = p + size;
    while (p < end) {
        const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (hit == nullptr) break;
        ++count;
        p = static_cast<const char*>(hit) + 1;
    }
    return count;
}

// Create the file and hand it all the bytes in one write() (more only when
// the kernel takes less), optionally forcing them to the disk.
void WriteAll(const std::string& path, const char* data, std::size_t size, bool sync) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Fail("cannot create " + path);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot write " + path);
        done += static_cast<std::size_t>(n);
    }
    if (sync && ::fsync(fd) != 0) Fail("cannot fsync " + path);
    if (::close(fd) != 0) Fail("cannot close " + path);
}

// ---------------------------------------------------------------------------
// Timing and printing

std::string Bytes(std::size_t bytes) {
    char buf[32];
    const double b = static_cast<double>(bytes);
    if (bytes < 10'000)
        std::snprintf(buf, sizeof buf, "%zu B", bytes);
    else if (bytes < 1'000'000)
        std::snprintf(buf, sizeof buf, "%.1f KB", b / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.1f MB", b / 1e6);
    return buf;
}

struct Figures {
    Shape shape;
    std::size_t lines = 0;
    double read = 0, load = 0, save = 0, write = 0, writeSync = 0, dump = 0;
};

// ---------------------------------------------------------------------------
// One file

Figures Measure(const Generated& g, Shape shape, int runs, const fs::path& work,
                std::vector<std::string>& problems) {
    Figures f;
    f.shape = shape;
    f.lines = g.lines;
    const std::string label =
        std::string(ShapeName(shape)) + " " + std::to_string(g.lines) + " lines: ";

    // One untimed pass first, so that every figure starts from a file in the
    // page cache, also when a size runs only once.
    std::size_t counted = ReadAndCountLines(g.path);
    f.read = BestOf(
        runs, [] {}, [&] { counted = ReadAndCountLines(g.path); });
    if (counted != g.lines)
        problems.push_back(label + "counted " + std::to_string(counted) + " line feeds");

    std::unique_ptr<keyloft::Document> doc;
    keyloft::LoadResult loaded;
    f.load = BestOf(
        runs, [&] { doc = std::make_unique<keyloft::Document>(); },
        [&] { loaded = keyloft::LoadIniFile(*doc, g.path); });
    if (loaded.sectionCount != g.sections || loaded.keyCount != g.keys)
        problems.push_back(label + "loaded " + keyloft::LoadReport(loaded) + ", expected " +
                           std::to_string(g.keys) + " keys in " + std::to_string(g.sections) +
                           " sections");

    const std::string saved = (work / "saved.ini").string();
    auto removeSaved = [&] {
        fs::remove(saved);
        fs::remove(keyloft::BackupName(saved));
    };
    f.save = BestOf(runs, removeSaved, [&] { keyloft::SaveIniFile(*doc, saved); });

    // The dump writes one line per node, the root included.
    std::size_t dumpedLines = 0;
    f.dump = BestOf(
        runs, [] {},
        [&] {
            keyloft::StringTextFile text;
            keyloft::DumpTreeviewToTextfile(*doc, text);
            dumpedLines =
                static_cast<std::size_t>(std::count(text.text().begin(), text.text().end(), '\n'));
        });
    if (dumpedLines != 1 + g.sections + g.keys)
        problems.push_back(label + "the dump has " + std::to_string(dumpedLines) +
                           " lines, expected " + std::to_string(1 + g.sections + g.keys));
    doc.reset();

    // The saved file must read back as the same tree. Its bytes may differ
    // from the generated ones: the reading trims blanks around "=".
    {
        keyloft::Document again;
        const keyloft::LoadResult reread = keyloft::LoadIniFile(again, saved);
        if (reread.sectionCount != g.sections || reread.keyCount != g.keys)
            problems.push_back(label + "the saved file reads back as " +
                               keyloft::LoadReport(reread));
    }

    std::size_t savedSize = 0;
    std::unique_ptr<char[]> savedBytes = ReadAll(saved, savedSize);
    removeSaved();

    const std::string written = (work / "written.ini").string();
    auto removeWritten = [&] { fs::remove(written); };
    f.write =
        BestOf(runs, removeWritten, [&] { WriteAll(written, savedBytes.get(), savedSize, false); });
    f.writeSync =
        BestOf(runs, removeWritten, [&] { WriteAll(written, savedBytes.get(), savedSize, true); });
    removeWritten();
    return f;
}

// A UTF-16 LE twin of the generated file (its bytes widened, a byte-order
// mark first) against the file itself: the best load of each.
void MeasureUtf16(const Generated& g, Shape shape, int runs, const fs::path& work,
                  std::vector<std::string>& problems) {
    std::size_t size = 0;
    const std::unique_ptr<char[]> bytes = ReadAll(g.path, size);
    std::string wide = "\xFF\xFE";
    wide.reserve(2 + 2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        wide.push_back(bytes[i]);
        wide.push_back('\0');
    }
    const std::string twin = (work / "utf16.ini").string();
    WriteAll(twin, wide.data(), wide.size(), false);
    ReadAndCountLines(twin);  // in the page cache, as the other is

    auto timeLoad = [&](const std::string& path, keyloft::LoadResult& loaded) {
        std::unique_ptr<keyloft::Document> doc;
        return BestOf(
            runs, [&] { doc = std::make_unique<keyloft::Document>(); },
            [&] { loaded = keyloft::LoadIniFile(*doc, path); });
    };
    keyloft::LoadResult utf8Loaded, utf16Loaded;
    const double utf8 = timeLoad(g.path, utf8Loaded);
    const double utf16 = timeLoad(twin, utf16Loaded);
    fs::remove(twin);
    if (utf16Loaded.keyCount != utf8Loaded.keyCount ||
        utf16Loaded.sectionCount != utf8Loaded.sectionCount)
        problems.push_back(std::string(ShapeName(shape)) + " UTF-16 twin loaded " +
                           keyloft::LoadReport(utf16Loaded));
    std::printf("  %-8s UTF-8 %s, UTF-16 %s (%s): UTF-16 / UTF-8 %s\n", ShapeName(shape),
                Time(utf8).c_str(), Time(utf16).c_str(), Bytes(wide.size()).c_str(),
                Verdict(utf16 / utf8, kUtf16Target).c_str());
}

// ---------------------------------------------------------------------------
// Command line

constexpr const char* kUsage =
    "usage: keyloft_bench [options]\n"
    "  --max-lines N     skip the sizes above N lines (default 10000000)\n"
    "  --sizes A,B,...   line counts to measure (default 1000,100000,1000000,10000000)\n"
    "  --runs N          runs per figure, best one kept (default 3)\n"
    "  --shape S         typical, one-key or all (default all)\n"
    "  --keep DIR        write the generated files to DIR and keep them there\n"
    "                    (typical-N.ini, one-key-N.ini)\n"
    "  --generate-only   with --keep: write the files, measure nothing\n";

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    auto sizes = [&](const std::string& list) {
        o.sizes.clear();
        for (std::size_t from = 0; from <= list.size();) {
            std::size_t comma = list.find(',', from);
            if (comma == std::string::npos) comma = list.size();
            o.sizes.push_back(ParseCount(list.substr(from, comma - from)));
            from = comma + 1;
        }
    };
    auto shape = [&](const std::string& s) {
        if (s == "typical")
            o.shapes = {Shape::Typical};
        else if (s == "one-key")
            o.shapes = {Shape::OneKey};
        else if (s == "all")
            o.shapes = {Shape::Typical, Shape::OneKey};
        else
            throw std::invalid_argument("unknown shape: " + s);
    };
    if (!ParseArgs(
            argc, argv,
            {{"--max-lines", [&](const std::string& v) { o.maxLines = ParseCount(v); }},
             {"--sizes", sizes},
             {"--runs", [&](const std::string& v) { o.runs = static_cast<int>(ParseCount(v)); }},
             {"--shape", shape},
             {"--keep", [&](const std::string& v) { o.keepDir = v; }},
             {"--generate-only", [&](const std::string&) { o.generateOnly = true; }, true}},
            kUsage))
        return std::nullopt;
    if (o.generateOnly && o.keepDir.empty())
        throw std::invalid_argument("--generate-only needs --keep DIR");
    std::erase_if(o.sizes, [&](std::size_t n) { return n > o.maxLines; });
    std::sort(o.sizes.begin(), o.sizes.end());
    o.sizes.erase(std::unique(o.sizes.begin(), o.sizes.end()), o.sizes.end());
    if (o.sizes.empty()) throw std::invalid_argument("no size left under --max-lines");
    return o;
}

void PrintRow(const Figures& f, std::size_t bytes) {
    std::printf("%10zu %9s | %10s %10s %7s | %10s %10s %7s %11s %7s | %10s | %9s\n", f.lines,
                Bytes(bytes).c_str(), Time(f.read).c_str(), Time(f.load).c_str(),
                Ratio(f.load / f.read).c_str(), Time(f.save).c_str(), Time(f.write).c_str(),
                Ratio(f.save / f.write).c_str(), Time(f.writeSync).c_str(),
                Ratio(f.save / f.writeSync).c_str(), Time(f.dump).c_str(),
                Bytes(PeakRss()).c_str());
    std::fflush(stdout);
}

void PrintHeader(Shape shape) {
    std::printf("\n%s\n", ShapeTitle(shape));
    std::printf("%10s %9s | %10s %10s %7s | %10s %10s %7s %11s %7s | %10s | %9s\n", "lines", "size",
                "read+count", "load", "ratio", "save", "write", "ratio", "write+fsync", "ratio",
                "dump", "peak RSS");
}

// The targets, from the figures of the same run.
void PrintTargets(const std::vector<Figures>& all) {
    std::printf("\nTargets at %zu lines: load <= %gx read+count, save <= %gx write+fsync\n",
                kTargetLines, kLoadTarget, kSaveTarget);
    bool any = false;
    for (const Figures& f : all) {
        if (f.lines != kTargetLines) continue;
        any = true;
        std::printf("  %-8s load / read+count %s;  save / write+fsync %s\n", ShapeName(f.shape),
                    Verdict(f.load / f.read, kLoadTarget).c_str(),
                    Verdict(f.save / f.writeSync, kSaveTarget).c_str());
    }
    if (!any) std::printf("  not measured: run with a size of %zu lines\n", kTargetLines);
    std::printf("Loads linearly: time per line at %zu lines / at %zu lines\n", kLinearLines,
                kTargetLines);
    any = false;
    for (const Figures& big : all) {
        if (big.lines != kLinearLines) continue;
        for (const Figures& f : all) {
            if (f.lines != kTargetLines || f.shape != big.shape) continue;
            any = true;
            const double perLine = (big.load / static_cast<double>(big.lines)) /
                                   (f.load / static_cast<double>(f.lines));
            std::printf("  %-8s %s\n", ShapeName(f.shape), Verdict(perLine, kLinearTarget).c_str());
        }
    }
    if (!any)
        std::printf("  not measured: run with sizes of %zu and %zu lines\n", kTargetLines,
                    kLinearLines);
}

}  // namespace

int main(int argc, char** argv) {
    return RunBenchmark("keyloft_bench", kUsage, [&] {
        std::optional<Options> parsed = ParseOptions(argc, argv);
        if (!parsed) return 0;
        const Options& o = *parsed;

        TempDir temp;
        fs::path dataDir = temp.path();
        if (!o.keepDir.empty()) {
            dataDir = o.keepDir;
            fs::create_directories(dataDir);
        }
        auto pathOf = [&](Shape shape, std::size_t n) {
            return (dataDir / (std::string(ShapeName(shape)) + "-" + std::to_string(n) + ".ini"))
                .string();
        };

        if (o.generateOnly) {
            for (Shape shape : o.shapes)
                for (std::size_t n : o.sizes) {
                    Generated g = Generate(shape, n, pathOf(shape, n));
                    std::printf("%s: %zu lines, %zu sections, %zu keys, %s\n", g.path.c_str(),
                                g.lines, g.sections, g.keys, Bytes(g.bytes).c_str());
                }
            return 0;
        }

        // Ten million lines get as many runs as the rest: the linearity is
        // judged from them, and a single run there depends on the moment.
        std::printf(
            "Times are the best of %d runs. Ratios: load / read+count, save / write, "
            "save / write+fsync.\n",
            o.runs);
        std::vector<Figures> all;
        std::vector<std::string> problems;
        for (Shape shape : o.shapes) {
            PrintHeader(shape);
            for (std::size_t n : o.sizes) {
                Generated g = Generate(shape, n, pathOf(shape, n));
                Figures f = Measure(g, shape, o.runs, temp.path(), problems);
                PrintRow(f, g.bytes);
                all.push_back(f);
                if (o.keepDir.empty()) fs::remove(g.path);
            }
        }
        PrintTargets(all);
        std::printf("UTF-16 at %zu lines: load <= %gx that of the same text in UTF-8\n",
                    kTargetLines, kUtf16Target);
        if (std::find(o.sizes.begin(), o.sizes.end(), kTargetLines) == o.sizes.end()) {
            std::printf("  not measured: run with a size of %zu lines\n", kTargetLines);
        } else {
            for (Shape shape : o.shapes) {
                Generated g = Generate(shape, kTargetLines, pathOf(shape, kTargetLines));
                MeasureUtf16(g, shape, o.runs, temp.path(), problems);
                if (o.keepDir.empty()) fs::remove(g.path);
            }
        }

        if (!problems.empty()) {
            std::printf("\nChecks that failed:\n");
            for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
            return 1;
        }
        if (!o.keepDir.empty()) std::printf("\nGenerated files kept in %s\n", o.keepDir.c_str());
        return 0;
    });
}
