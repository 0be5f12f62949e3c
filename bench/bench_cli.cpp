// Times `keyloft-ini set` of one key in a generated file of a million lines
// next to the core's own load and save of the same file, in the same run:
// the command line adds a process start, the lock and the search for the key.
// Then whole processes: `keyloft-ini dump` of a million lines against a
// process that only reads the file and counts its lines (this program run
// with --count), and the peak memory of the dump of ten million lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "document/Document.h"
#include "files/IniFile.h"

extern char** environ;

namespace {

using namespace keyloft::bench;

constexpr double kTarget = 1.3;        // set <= 1.3 x load + save
constexpr double kDumpTarget = 3.0;    // dump process <= 3 x read+count process
constexpr double kMemoryTarget = 2.0;  // dump's peak RSS <= 2 x the file

// A whole process: its wall time and peak resident memory.
struct ProcessRun {
    double seconds = 0;
    std::size_t peak = 0;
};

// Runs `exe` with `args`, its output thrown away.
ProcessRun RunProcess(const std::string& exe, std::vector<std::string> args) {
    args.insert(args.begin(), exe);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) Fail("cannot start " + exe);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0) Fail("wait4");
    ProcessRun run;
    run.seconds = Seconds(t0, Clock::now());
    run.peak = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(exe + " " + args[1] + " failed");
    return run;
}

// Two commands run in turn, `runs` times each, so that both meet the
// machine's quieter and busier moments alike: the best time of each and the
// highest peak among its runs.
std::pair<ProcessRun, ProcessRun> BestRunsInTurn(int runs, const std::string& exeA,
                                                 const std::vector<std::string>& argsA,
                                                 const std::string& exeB,
                                                 const std::vector<std::string>& argsB) {
    ProcessRun a{1e300, 0}, b{1e300, 0};
    auto keep = [](ProcessRun& best, const ProcessRun& run) {
        best.seconds = std::min(best.seconds, run.seconds);
        best.peak = std::max(best.peak, run.peak);
    };
    for (int i = 0; i < runs; ++i) {
        keep(a, RunProcess(exeA, argsA));
        keep(b, RunProcess(exeB, argsB));
    }
    return {a, b};
}

// The baseline process: reads the file in blocks and counts its line feeds.
int CountLines(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) return 1;
    static char buffer[1 << 20];
    std::size_t lines = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(
                                          p, '\n', static_cast<std::size_t>(buffer + n - p))));
             ++p)
            ++lines;
    }
    ::close(fd);
    std::printf("%zu\n", lines);
    return 0;
}

// keyloft-ini dump against read+count, whole processes, on `lines` lines of
// each shape; then the dump's peak memory on `memoryLines` lines.
void MeasureProcesses(const fs::path& dir, std::size_t lines, std::size_t memoryLines, int runs) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::printf("\nwhole processes, best of %d runs: keyloft-ini dump against read+count\n", runs);
    for (Shape shape : {Shape::Typical, Shape::OneKey}) {
        const std::string path = (dir / "dump.ini").string();
        const Generated g = Generate(shape, lines, path);
        const auto [count, dump] =
            BestRunsInTurn(runs, self, {"--count", path}, KEYLOFT_INI_EXE, {"dump", path});
        std::printf("  %-8s %zu lines %7.1f MB: read+count %9s, dump %9s   %s\n", ShapeName(shape),
                    g.lines, static_cast<double>(g.bytes) / 1e6, Time(count.seconds).c_str(),
                    Time(dump.seconds).c_str(),
                    Verdict(dump.seconds / count.seconds, kDumpTarget).c_str());
        fs::remove(path);
    }
    if (memoryLines == 0) return;
    std::printf("\npeak memory of keyloft-ini dump (whole process)\n");
    {
        const std::string path = (dir / "memory.ini").string();
        const Generated g = Generate(Shape::Typical, memoryLines, path);
        const ProcessRun dump = RunProcess(KEYLOFT_INI_EXE, {"dump", path});
        std::printf(
            "  typical  %zu lines %7.1f MB: peak %7.1f MB, against the file %s\n", g.lines,
            static_cast<double>(g.bytes) / 1e6, static_cast<double>(dump.peak) / 1e6,
            Verdict(static_cast<double>(dump.peak) / static_cast<double>(g.bytes), kMemoryTarget)
                .c_str());
        fs::remove(path);
    }
    {
        const std::string path = (dir / "one-char.ini").string();
        const Generated g = GenerateOneCharKeys(memoryLines, path);
        const ProcessRun dump = RunProcess(KEYLOFT_INI_EXE, {"dump", path});
        std::printf(
            "  one-character keys %zu lines %7.1f MB: peak %7.1f MB = %.1f bytes a line (%.2fx the "
            "file)\n",
            g.lines, static_cast<double>(g.bytes) / 1e6, static_cast<double>(dump.peak) / 1e6,
            static_cast<double>(dump.peak) / static_cast<double>(g.lines),
            static_cast<double>(dump.peak) / static_cast<double>(g.bytes));
        fs::remove(path);
    }
}

// Runs keyloft-ini with `args`; returns its exit status.
int RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), KEYLOFT_INI_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, KEYLOFT_INI_EXE, nullptr, nullptr, argv.data(), environ) != 0)
        Fail("cannot start keyloft-ini");
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0) Fail("waitpid");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr const char* kUsage =
    "usage: keyloft_bench_cli [--lines N] [--runs N] [--memory-lines N]\n"
    "  --lines N          lines of the files that are timed (default 1000000)\n"
    "  --runs N           runs per figure, best one kept (default 3)\n"
    "  --memory-lines N   lines of the files whose dump's peak memory is\n"
    "                     measured (default 10000000; 0 skips it)\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--count") return CountLines(argv[2]);
    return RunBenchmark("keyloft_bench_cli", kUsage, [&] {
        std::size_t lines = 1'000'000;
        std::size_t memoryLines = 10'000'000;
        int runs = 3;
        if (!ParseArgs(
                argc, argv,
                {{"--lines", [&](const std::string& v) { lines = ParseCount(v); }},
                 {"--memory-lines", [&](const std::string& v) { memoryLines = ParseCount(v, 0); }},
                 {"--runs", [&](const std::string& v) { runs = static_cast<int>(ParseCount(v)); }}},
                kUsage))
            return 0;
        TempDir temp;
        const std::string original = (temp.path() / "original.ini").string();
        const std::string work = (temp.path() / "work.ini").string();
        const Generated g = Generate(Shape::Typical, lines, original);
        // Each run works on a fresh copy of the file, made untimed.
        const auto copy = [&] {
            fs::copy_file(original, work, fs::copy_options::overwrite_existing);
        };

        const double core = BestOf(runs, copy, [&] {
            keyloft::Document doc;
            keyloft::LoadIniFile(doc, work);
            keyloft::SaveIniFile(doc, work, false);
        });
        // A plain "[SectionN]" in the middle of the file (the generator
        // writes others as "[ Section N ]" or comments them). The key is new
        // on each run's copy, so every run adds one line and saves.
        std::size_t middle = g.sections / 2;
        while (middle % 7 == 3 || middle % 50 == 49) ++middle;
        const std::string section = "Section" + std::to_string(middle);
        int failures = 0, run = 0;
        const double cli = BestOf(runs, copy, [&] {
            failures += RunTool({"set", work, section, "bench", "v" + std::to_string(run++)}) != 0;
        });
        if (failures != 0) throw std::runtime_error("keyloft-ini set failed");
        keyloft::Document check;
        if (keyloft::LoadIniFile(check, work).keyCount != g.keys + 1)
            throw std::runtime_error("the set did not add exactly one key");

        std::printf("keyloft-ini set of one key in %zu lines (%s, %.1f MB), best of %d runs:\n",
                    g.lines, ShapeName(Shape::Typical), static_cast<double>(g.bytes) / 1e6, runs);
        std::printf("  core load + save   %10s\n", Time(core).c_str());
        std::printf("  keyloft-ini set    %10s   %s\n", Time(cli).c_str(),
                    Verdict(cli / core, kTarget).c_str());
        fs::remove(work);
        fs::remove(original);
        MeasureProcesses(temp.path(), lines, memoryLines, runs);
        return 0;
    });
}
