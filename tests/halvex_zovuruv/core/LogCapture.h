#pragma once
// Sends the diagnostic log into a temporary file for the life of the object.

#include "halvex_zovuruv/core/Log.h"
#include "platform/system/TemporaryDirectory.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zvtest {

class LogCapture {
public:
    LogCapture() : dir_("zv-log-") { halvex::Log::redirect(dir_ / "log.txt"); }
    ~LogCapture() { halvex::Log::redirect(std::nullopt); }

    /// The messages written so far, without their timestamps.
    std::vector<std::string> messages() const {
        std::ifstream in(dir_ / "log.txt");
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            const size_t blank = line.find(' ');
            lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
        }
        return lines;
    }

    std::string text() const {
        std::ifstream in(dir_ / "log.txt");
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    platform::system::TemporaryDirectory dir_;
};

} // namespace zvtest
