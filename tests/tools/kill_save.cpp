// Saves killed at random moments: a child replaces a large file while the
// parent SIGKILLs it, again and again: half the time after a random delay,
// half the time at a random system call of the save's last phase (the
// child is traced for that), where the fsyncs, the backup, the naming and
// the rename take only milliseconds of a long save. After every kill
// the target must hold exactly the old or the new bytes, a backup exactly the
// old bytes, and the folder nothing else but, in the instant between naming
// the new file and the rename, its one pending name, which the next save must
// remove. With --linked the target has a second hard link, so each save
// writes it in place: a kill may then cut the target off half-written, but
// only once its old bytes are complete in the backup, and the second name
// always names the target.
//
//   keyloft_kill_save [--linked] MEGABYTES KILLS [SEED]
//
// Works in a fresh folder under the temporary folder and removes it. Prints
// the counts; exits 1 when any check failed.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "files/FileSystem.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using keyloft::IsPendingSaveName;
using keyloft::ReplaceFileWithBackup;

constexpr std::size_t kBlock = 1 << 20;

// One of two contents: `blocks` pieces of a megabyte of INI lines, each
// numbered in its first line so that a piece out of place shows. 'b' is one
// block longer than 'a'.
class Content {
public:
    Content(char which, std::size_t blocks) : which_(which), blocks_(blocks) {
        base_.reserve(kBlock);
        while (base_.size() < kBlock) {
            base_ += "key" + std::to_string(base_.size()) + "=" + std::string(1, which) + "\n";
        }
        base_.resize(kBlock - 1);
        base_ += "\n";
    }
    char which() const { return which_; }
    std::size_t size() const { return blocks_ * kBlock; }

    // Block `i` into `out` (kBlock bytes).
    void Block(std::size_t i, char* out) const {
        std::memcpy(out, base_.data(), kBlock);
        std::snprintf(out, 32, "; %c block %012zu\n", which_, i);
        out[std::strlen(out)] = '\n';
    }
    void Write(const std::function<void(std::string_view)>& write) const {
        std::vector<char> block(kBlock);
        for (std::size_t i = 0; i < blocks_; ++i) {
            Block(i, block.data());
            write({block.data(), kBlock});
        }
    }
    // Whether the file at `path` holds exactly this content.
    bool In(const std::string& path) const {
        std::error_code ec;
        if (fs::file_size(path, ec) != size() || ec) return false;
        std::ifstream in(path, std::ios::binary);
        std::vector<char> expected(kBlock), actual(kBlock);
        for (std::size_t i = 0; i < blocks_; ++i) {
            Block(i, expected.data());
            if (!in.read(actual.data(), kBlock) || actual != expected) return false;
        }
        return true;
    }

private:
    char which_;
    std::size_t blocks_;
    std::string base_;
};

// When a round's kill comes: after `delay`, or at the child's `stop`-th
// system-call stop (each call stops on entry and on exit); neither when
// negative.
struct KillAt {
    std::chrono::microseconds delay{-1};
    long stop = -1;
};

struct Run {
    bool killed = false;  // false: the save had finished
    long stops = 0;       // system-call stops seen, when traced
};

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::exit(2);
}

// Runs one save in a child and kills it as `at` says. A child to be killed
// at a system call, or with `traced`, runs under ptrace and its stops are
// counted.
Run SaveInChild(const std::string& target, const Content& content, KillAt at, bool traced = false) {
    traced = traced || at.stop >= 0;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) Die("fork");
    if (pid == 0) {
        if (traced &&
            (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0 || ::raise(SIGSTOP) != 0)) {
            ::_exit(3);
        }
        try {
            ReplaceFileWithBackup(target, [&content](const auto& write) { content.Write(write); });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "save failed: %s\n", e.what());
            ::_exit(1);
        }
        ::_exit(0);
    }
    Run run;
    int status = 0;
    if (traced) {
        if (::waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) Die("waiting for the child");
        const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL;
        if (::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(options)) != 0) {
            Die("ptrace");
        }
        int signal = 0;
        for (;;) {
            if (::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(long{signal})) !=
                0) {
                Die("ptrace");
            }
            if (::waitpid(pid, &status, 0) != pid) Die("waitpid");
            if (!WIFSTOPPED(status)) break;
            signal = 0;
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                signal = WSTOPSIG(status);  // the child's own signal, passed on
                continue;
            }
            if (++run.stops == at.stop) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
        }
    } else {
        if (at.delay.count() >= 0) {
            std::this_thread::sleep_for(at.delay);
            ::kill(pid, SIGKILL);
        }
        ::waitpid(pid, &status, 0);
    }
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!run.killed && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        std::fprintf(stderr, "the save ended with status %d\n", status);
        std::exit(2);
    }
    return run;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    // With --linked the target has a second hard link, so every save writes
    // it in place after copying its old bytes to the backup.
    const bool linked = argc > 1 && std::string_view(argv[1]) == "--linked";
    if (linked) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--linked] MEGABYTES KILLS [SEED]\n", argv[0]);
        return 2;
    }
    const std::size_t megabytes = std::strtoul(argv[1], nullptr, 10);
    const int kills = std::atoi(argv[2]);
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                   : static_cast<unsigned>(std::random_device{}());
    std::mt19937 random(seed);

    std::string folder = (fs::temp_directory_path() / "keyloft-kill-save-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string name = "settings.ini";
    const std::string target = folder + "/" + name;
    const std::string backup = target + ".in1";
    const Content a('a', megabytes), b('b', megabytes + 1);

    int failures = 0;
    auto fail = [&failures](int round, const std::string& what) {
        ++failures;
        std::printf("round %d: FAILED: %s\n", round, what.c_str());
    };

    // The old file, then four saves without a kill: two to learn how long a
    // save takes at least, two traced to count the system-call stops a save
    // of each content makes.
    ReplaceFileWithBackup(target, [&a](const auto& write) { a.Write(write); });
    const std::string other = folder + "/other-name.ini";
    if (linked && ::link(target.c_str(), other.c_str()) != 0) Die("link");
    const Content* now = &a;  // what the target holds
    auto duration = std::chrono::microseconds::max();
    std::map<const Content*, long> stops;
    for (int i = 0; i < 4; ++i) {
        const Content* next = now == &a ? &b : &a;
        const auto start = Clock::now();
        const Run run = SaveInChild(target, *next, KillAt{}, i >= 2);
        if (i < 2) {
            duration = std::min(duration, std::chrono::duration_cast<std::chrono::microseconds>(
                                              Clock::now() - start));
        } else {
            stops[next] = run.stops;
        }
        if (!next->In(target) || !now->In(backup)) fail(0, "a save without a kill");
        fs::remove(backup);
        now = next;
    }

    // The last phase: the stops of the last few writes and the 16 calls or so
    // that follow them.
    constexpr long kLastStops = 40;
    int rounds = 0, finished = 0, oldKept = 0, oldWithBackup = 0, newWritten = 0, pendingLeft = 0,
        halfWritten = 0;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int killed = 0; killed < kills && rounds < kills * 4;) {
        ++rounds;
        const Content* next = now == &a ? &b : &a;
        KillAt at;
        if (rounds % 2 == 0) {
            const long last = stops[next];
            at.stop =
                std::uniform_int_distribution<long>(std::max(1L, last - kLastStops), last)(random);
        } else {
            at.delay = std::chrono::microseconds(
                static_cast<long>(static_cast<double>(duration.count()) * unit(random)));
        }
        const bool wasKilled = SaveInChild(target, *next, at).killed;
        killed += wasKilled;
        finished += !wasKilled;

        const bool holdsOld = now->In(target), holdsNew = next->In(target);
        const bool hasBackup = fs::exists(backup);
        if (!holdsOld && !holdsNew) {
            // Only a write in place may be cut off, and only once the old
            // bytes are complete in the backup; they are put back by hand.
            if (!linked || !hasBackup || !now->In(backup)) {
                fail(rounds, "the target holds neither the old nor the new bytes");
            } else {
                ++halfWritten;
                fs::copy_file(backup, target, fs::copy_options::overwrite_existing);
            }
        } else if (hasBackup && !now->In(backup) && !(linked && holdsOld)) {
            // (A backup still being copied is incomplete while the target is
            // untouched.)
            fail(rounds, "the backup is not the old file");
        }
        if (holdsNew && !hasBackup) fail(rounds, "the new file is in place without a backup");
        if (linked && (!fs::equivalent(target, other) || fs::hard_link_count(target) != 2))
            fail(rounds, "the second name no longer names the target");
        const std::set<std::string> names = Names(folder);
        std::string pending;
        for (const std::string& left : names) {
            if (IsPendingSaveName(name, left) && pending.empty()) {
                pending = left;
            } else if (left != name && left != name + ".in1" &&
                       !(linked && left == "other-name.ini")) {
                fail(rounds, "left behind: " + left);
            }
        }
        if (linked && !pending.empty()) fail(rounds, "a write in place left a pending name");
        if (wasKilled && (holdsOld || holdsNew))
            ++(holdsNew ? newWritten : hasBackup ? oldWithBackup : oldKept);
        if (holdsOld || holdsNew) now = holdsNew ? next : now;

        if (!pending.empty()) {
            // Killed between naming the new file and the rename: the next
            // save must remove that name and succeed.
            ++pendingLeft;
            if (!next->In(folder + "/" + pending)) fail(rounds, "the pending file is incomplete");
            fs::remove(backup);
            const Content* after = now == &a ? &b : &a;
            SaveInChild(target, *after, KillAt{});
            if (!after->In(target)) {
                fail(rounds, "the save after the kill did not replace the file");
            }
            if (Names(folder) != std::set<std::string>{name, name + ".in1"} && !linked) {
                fail(rounds, "the save after the kill left the pending name");
            }
            now = after;
        }
        fs::remove(backup);
    }
    const int killedTotal = oldKept + oldWithBackup + newWritten + halfWritten;

    std::printf(
        "kill-save: %zu MB file%s, seed %u; an unkilled save took %.2f s and %ld "
        "system-call stops\n",
        megabytes, linked ? " with a second hard link" : "", seed,
        static_cast<double>(duration.count()) / 1e6, stops[&b]);
    std::printf("  rounds: %d, killed: %d, finished before the kill: %d\n", rounds, killedTotal,
                finished);
    std::printf("  killed, old file in place, no backup yet:     %d\n", oldKept);
    std::printf("  killed, old file in place, backup made:       %d\n", oldWithBackup);
    std::printf("  killed, new file in place, backup made:       %d\n", newWritten);
    std::printf("  pending name left, removed by the next save:  %d\n", pendingLeft);
    if (linked) std::printf("  killed while written in place, old in backup: %d\n", halfWritten);
    std::printf("  failed checks: %d\n", failures);

    std::error_code ec;
    fs::remove_all(folder, ec);
    if (killedTotal < kills) {
        std::printf("FAILED: only %d of %d saves were killed\n", killedTotal, kills);
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
