#include "platform/system/MachineInfo.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace platform::system {

namespace {

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<uint64_t> parseNumber(std::string_view text) {
    text = trim(text);
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    return value;
}

// Firmware fields that stand in for a missing product name.
bool isPlaceholderName(std::string_view name) {
    static constexpr std::string_view kPlaceholders[] = {
        "",
        "To be filled by O.E.M.",
        "To Be Filled By O.E.M.",
        "System Product Name",
        "Default string",
        "None",
    };
    return std::find(std::begin(kPlaceholders), std::end(kPlaceholders), name) !=
           std::end(kPlaceholders);
}

std::vector<std::string_view> splitFields(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(separator, pos);
        if (end == std::string_view::npos) end = text.size();
        fields.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

template <typename Visit> void forEachLine(std::string_view text, Visit visit) {
    for (std::string_view line : splitFields(text, '\n')) {
        if (!line.empty()) visit(line);
    }
}

// mountinfo writes blanks, tabs, line feeds and backslashes in paths as octal escapes.
std::string unescapeMountPath(std::string_view text) {
    std::string path;
    for (size_t i = 0; i < text.size(); ++i) {
        auto octal = [&](size_t at) { return text[at] >= '0' && text[at] <= '7'; };
        if (text[i] == '\\' && i + 3 < text.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            path += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                      (text[i + 3] - '0'));
            i += 3;
        } else {
            path += text[i];
        }
    }
    return path;
}

bool containsField(std::string_view list, std::string_view name) {
    for (std::string_view field : splitFields(list, ','))
        if (field == name) return true;
    return false;
}

// A cgroup hierarchy this process belongs to: where it is mounted and the
// process's folder in it.
struct CgroupFolder {
    std::string mountPoint;
    std::string folder;
};

// The folder of cgroup path `path` under a mount of that hierarchy whose root
// is `root`: the mount shows the part of the hierarchy below its root.
std::optional<std::string> folderUnderMount(const std::string& mountPoint, const std::string& root,
                                            std::string_view path) {
    if (root == "/") return mountPoint + (path == "/" ? "" : std::string(path));
    if (path == root) return mountPoint;
    if (path.starts_with(root) && path.size() > root.size() && path[root.size()] == '/')
        return mountPoint + std::string(path.substr(root.size()));
    return std::nullopt;
}

// Finds the folders of the v2 hierarchy and of the v1 hierarchy holding the cpu controller.
std::vector<CgroupFolder> cpuCgroupFolders(std::string_view procCgroup,
                                           std::string_view mountInfo) {
    std::optional<std::string> unifiedPath, cpuPath;
    forEachLine(procCgroup, [&](std::string_view line) {
        // "hierarchy-id:controllers:path"
        size_t first = line.find(':');
        size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) return;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string path(line.substr(second + 1));
        if (path.empty() || path.front() != '/') return;
        if (line.substr(0, first) == "0" && controllers.empty()) {
            unifiedPath = path;
        } else if (containsField(controllers, "cpu")) {
            cpuPath = path;
        }
    });
    std::vector<CgroupFolder> folders;
    bool haveUnified = false, haveCpu = false;
    forEachLine(mountInfo, [&](std::string_view line) {
        // "id parent major:minor root mount-point options [optional...] - type source
        // super-options"
        size_t dash = line.find(" - ");
        if (dash == std::string_view::npos) return;
        std::vector<std::string_view> before = splitFields(line.substr(0, dash), ' ');
        std::vector<std::string_view> after = splitFields(line.substr(dash + 3), ' ');
        if (before.size() < 5 || after.empty()) return;
        const std::string root = unescapeMountPath(before[3]);
        const std::string mountPoint = unescapeMountPath(before[4]);
        std::optional<std::string> folder;
        if (after[0] == "cgroup2" && unifiedPath && !haveUnified) {
            folder = folderUnderMount(mountPoint, root, *unifiedPath);
            haveUnified = folder.has_value();
        } else if (after[0] == "cgroup" && cpuPath && !haveCpu && after.size() >= 3 &&
                   containsField(after[2], "cpu")) {
            folder = folderUnderMount(mountPoint, root, *cpuPath);
            haveCpu = folder.has_value();
        }
        if (folder) folders.push_back({mountPoint, *folder});
    });
    return folders;
}

// The quota of one cgroup folder in processors, if it sets one.
std::optional<double> folderCpuLimit(const std::string& folder,
                                     const MachineInfo::FileReader& read) {
    if (auto cpuMax = read(folder + "/cpu.max")) {
        // "max 100000" or "<quota> <period>", in microseconds.
        std::vector<std::string_view> fields = splitFields(trim(*cpuMax), ' ');
        if (fields.size() == 2) {
            auto quota = parseNumber(fields[0]), period = parseNumber(fields[1]);
            if (quota && period && *quota > 0 && *period > 0)
                return static_cast<double>(*quota) / static_cast<double>(*period);
        }
        return std::nullopt;
    }
    auto quotaText = read(folder + "/cpu.cfs_quota_us");
    auto periodText = read(folder + "/cpu.cfs_period_us");
    if (!quotaText || !periodText) return std::nullopt;
    auto quota = parseNumber(*quotaText); // "-1" when unlimited fails to parse as unsigned
    auto period = parseNumber(*periodText);
    if (quota && period && *quota > 0 && *period > 0)
        return static_cast<double>(*quota) / static_cast<double>(*period);
    return std::nullopt;
}

} // namespace

std::optional<double> MachineInfo::cgroupCpuLimit(std::string_view procCgroup,
                                                  std::string_view mountInfo,
                                                  const FileReader& read) {
    std::optional<double> tightest;
    for (const CgroupFolder& found : cpuCgroupFolders(procCgroup, mountInfo)) {
        // A quota on any ancestor up to the mount's root bounds this process too.
        std::string folder = found.folder;
        for (;;) {
            if (auto limit = folderCpuLimit(folder, read))
                tightest = tightest ? std::min(*tightest, *limit) : *limit;
            if (folder.size() <= found.mountPoint.size()) break;
            size_t slash = folder.find_last_of('/');
            if (slash == std::string::npos || slash < found.mountPoint.size()) break;
            folder.resize(slash);
        }
    }
    return tightest;
}

std::optional<uint64_t> MachineInfo::parseStatmResidentPages(std::string_view statm) {
    // "size resident shared text lib data dt", counted in pages.
    size_t space = statm.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    std::string_view rest = statm.substr(space + 1);
    return parseNumber(rest.substr(0, rest.find(' ')));
}

std::optional<uint64_t> MachineInfo::parseStatusResidentKilobytes(std::string_view status) {
    size_t pos = 0;
    while (pos < status.size()) {
        size_t end = status.find('\n', pos);
        std::string_view line =
            status.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (line.starts_with("VmRSS:")) {
            std::string_view value = trim(line.substr(6));
            return parseNumber(value.substr(0, value.find(' ')));
        }
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return std::nullopt;
}

std::string MachineInfo::parseCpuInfoField(std::string_view cpuinfo, std::string_view field) {
    size_t pos = 0;
    while (pos < cpuinfo.size()) {
        size_t end = cpuinfo.find('\n', pos);
        std::string_view line =
            cpuinfo.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        size_t colon = line.find(':');
        if (colon != std::string_view::npos && trim(line.substr(0, colon)) == field) {
            return std::string(trim(line.substr(colon + 1)));
        }
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return {};
}

std::optional<uint64_t> MachineInfo::residentMemoryBytes() {
    if (auto statm = readSmallFile("/proc/self/statm")) {
        if (auto pages = parseStatmResidentPages(*statm)) {
            long pageSize = ::sysconf(_SC_PAGESIZE);
            if (pageSize > 0) return *pages * static_cast<uint64_t>(pageSize);
        }
    }
    if (auto status = readSmallFile("/proc/self/status")) {
        if (auto kilobytes = parseStatusResidentKilobytes(*status)) return *kilobytes * 1024;
    }
    return std::nullopt;
}

std::string MachineInfo::cpuInfoField(std::string_view field) {
    auto cpuinfo = readSmallFile("/proc/cpuinfo");
    return cpuinfo ? parseCpuInfoField(*cpuinfo, field) : std::string();
}

std::string MachineInfo::deviceModelName() {
    if (auto product = readSmallFile("/sys/devices/virtual/dmi/id/product_name")) {
        std::string_view name = trim(*product);
        if (!isPlaceholderName(name)) return std::string(name);
    }
    for (std::string_view field : {"model name", "Model", "Hardware", "cpu model"}) {
        std::string value = cpuInfoField(field);
        if (!value.empty()) return value;
    }
    return "unknown";
}

int MachineInfo::activeProcessorCount() {
    long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<int>(count) : 1;
}

int MachineInfo::availableProcessorCount() {
    int count = 0;
    // The set size grows until it holds every CPU the kernel knows of.
    for (int size = 1024; size <= (1 << 20) && count == 0; size *= 2) {
        cpu_set_t* set = CPU_ALLOC(static_cast<size_t>(size));
        if (!set) break;
        const size_t bytes = CPU_ALLOC_SIZE(static_cast<size_t>(size));
        if (::sched_getaffinity(0, bytes, set) == 0) {
            count = CPU_COUNT_S(bytes, set);
        } else if (errno != EINVAL) {
            CPU_FREE(set);
            break;
        }
        CPU_FREE(set);
    }
    if (count <= 0) count = activeProcessorCount();
    auto procCgroup = readSmallFile("/proc/self/cgroup");
    auto mountInfo = readSmallFile("/proc/self/mountinfo");
    if (procCgroup && mountInfo) {
        if (auto limit = cgroupCpuLimit(*procCgroup, *mountInfo, readSmallFile)) {
            count = std::min(count, std::max(1, static_cast<int>(std::ceil(*limit))));
        }
    }
    return std::max(1, count);
}

std::string MachineInfo::kernelParameter(std::string_view dottedName) {
    if (dottedName.empty() || dottedName.find("..") != std::string_view::npos ||
        dottedName.find('/') != std::string_view::npos) {
        return {};
    }
    std::string path = "/proc/sys/";
    for (char c : dottedName)
        path += c == '.' ? '/' : c;
    auto content = readSmallFile(path);
    if (!content) return {};
    std::string value = content->substr(0, content->find('\0'));
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

} // namespace platform::system
