// The memory a load may take: what the system, the address-space limit and
// the control group leave; and the count of lines it is checked against.
#include "files/MemoryBudget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "base/Failure.h"
#include "files/FileSystem.h"
#include "reading/LineScan.h"

namespace keyloft {

namespace {

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

std::size_t LeftOf(std::size_t limit, std::size_t used) { return limit > used ? limit - used : 0; }

// MemAvailable of /proc/meminfo: what the kernel can give without swapping.
std::size_t SystemMemoryLeft() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::size_t value = 0;
    std::string unit;
    while (meminfo >> key >> value >> unit) {
        if (key == "MemAvailable:") return value * 1024;
    }
    return kUnknown;
}

// What the address-space limit (ulimit -v) still allows beside what is
// mapped now.
std::size_t AddressSpaceLeft() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    if (!(statm >> pages)) return kUnknown;
    return LeftOf(limit.rlim_cur, pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
}

// A number file of the cgroup file system; kUnknown for "max" or none.
std::size_t CgroupNumber(const std::string& file) {
    std::ifstream in(file);
    std::size_t value = 0;
    return in >> value ? value : kUnknown;
}

std::size_t InactiveFileCache(const std::string& folder) {
    std::ifstream stat(folder + "/memory.stat");
    std::string key;
    std::size_t value = 0;
    while (stat >> key >> value) {
        if (key == "inactive_file") return value;
    }
    return 0;
}

// The room left under the memory.max of the process's control group and of
// each group above it (cgroup v2). Page cache the kernel would drop first
// (inactive_file) counts as room: memory.current includes it.
std::size_t CgroupMemoryLeft() {
    std::string group;
    {
        std::ifstream cgroup("/proc/self/cgroup");
        std::string line;
        while (std::getline(cgroup, line)) {
            if (line.rfind("0::", 0) == 0) group = line.substr(3);
        }
    }
    if (group.empty()) return kUnknown;
    std::string mountRoot, mountPoint;
    {
        std::ifstream mountinfo("/proc/self/mountinfo");
        std::string line;
        while (std::getline(mountinfo, line)) {
            const auto dash = line.find(" - ");
            if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0) continue;
            std::istringstream fields(line.substr(0, dash));
            std::string id, parent, device;
            fields >> id >> parent >> device >> mountRoot >> mountPoint;
            break;
        }
    }
    if (mountPoint.empty()) return kUnknown;
    if (mountRoot != "/") {
        if (group.rfind(mountRoot, 0) != 0) return kUnknown;
        group.erase(0, mountRoot.size());
    }
    std::size_t left = kUnknown;
    for (;;) {
        const std::string folder = mountPoint + group;
        const std::size_t max = CgroupNumber(folder + "/memory.max");
        const std::size_t current = CgroupNumber(folder + "/memory.current");
        if (max != kUnknown && current != kUnknown) {
            left = std::min(left, LeftOf(max, LeftOf(current, InactiveFileCache(folder))));
        }
        const auto slash = group.find_last_of('/');
        if (slash == std::string::npos || group.size() <= 1) break;
        group.erase(slash);
    }
    return left;
}

}  // namespace

void ThrowTooLarge() { throw Failure("Not enough memory to load this file"); }

MemoryBudget::MemoryBudget() {
    const std::size_t least =
        std::min({SystemMemoryLeft(), AddressSpaceLeft(), CgroupMemoryLeft()});
    limit_ = least == kUnknown ? kUnknown : least / 2;
}

std::size_t MemoryBudget::Room(std::size_t lines) const {
    const std::size_t nodes =
        lines > limit_ / kNodeBytesPerLine ? limit_ : lines * kNodeBytesPerLine;
    return LeftOf(limit_, nodes);
}

void LineCounter::Add(const char* bytes, std::size_t size) {
    if (size == 0) return;
    breaks_ += CountBreaks(bytes, bytes + size, lastWasCr_);
    lastWasCr_ = bytes[size - 1] == '\r';
}

}  // namespace keyloft
