#include "platform/system/MachineInfo.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <unistd.h>

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

} // namespace

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
