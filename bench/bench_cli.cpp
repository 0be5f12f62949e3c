// Times `keyloft-ini set` of one key in a generated file of a million lines
// next to the core's own load and save of the same file, in the same run:
// the command line adds a process start, the lock and the search for the key.
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Document.h"
#include "IniFile.h"

extern char** environ;

namespace {

using namespace keyloft::bench;

constexpr double kTarget = 1.3;  // set <= 1.3 x load + save

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

// Best of `runs`: a fresh copy of `original` as `work` before each, untimed.
template <class Work>
double BestOf(int runs, const std::string& original, const std::string& work, Work body) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        fs::copy_file(original, work, fs::copy_options::overwrite_existing);
        const auto t0 = Clock::now();
        body(i);
        best = std::min(best, Seconds(t0, Clock::now()));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::size_t lines = 1'000'000;
        int runs = 3;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--lines" && i + 1 < argc) {
                lines = std::stoul(argv[++i]);
            } else if (arg == "--runs" && i + 1 < argc) {
                runs = std::max(1, std::stoi(argv[++i]));
            } else {
                std::fprintf(arg == "--help" ? stdout : stderr,
                             "usage: keyloft_bench_cli [--lines N] [--runs N]\n");
                return arg == "--help" ? 0 : 2;
            }
        }
        TempDir temp;
        const std::string original = (temp.path() / "original.ini").string();
        const std::string work = (temp.path() / "work.ini").string();
        const Generated g = Generate(Shape::Typical, lines, original);

        const double core = BestOf(runs, original, work, [&](int) {
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
        int failures = 0;
        const double cli = BestOf(runs, original, work, [&](int run) {
            failures += RunTool({"set", work, section, "bench", "v" + std::to_string(run)}) != 0;
        });
        if (failures != 0) throw std::runtime_error("keyloft-ini set failed");
        keyloft::Document check;
        if (keyloft::LoadIniFile(check, work).keyCount != g.keys + 1)
            throw std::runtime_error("the set did not add exactly one key");

        const double ratio = cli / core;
        std::printf("keyloft-ini set of one key in %zu lines (%s, %.1f MB), best of %d runs:\n",
                    g.lines, ShapeName(Shape::Typical), static_cast<double>(g.bytes) / 1e6, runs);
        std::printf("  core load + save   %10s\n", Time(core).c_str());
        std::printf("  keyloft-ini set    %10s   %.2fx   target <= %.1fx: %s\n", Time(cli).c_str(),
                    ratio, kTarget, ratio <= kTarget ? "met" : "MISSED");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "keyloft_bench_cli: %s\n", e.what());
        return 1;
    }
}
