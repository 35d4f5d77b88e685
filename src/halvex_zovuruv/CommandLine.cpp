#include "halvex_zovuruv/CommandLine.h"

#include "halvex_zovuruv/Transcriber.h"
#include "halvex_zovuruv/core/ErrorText.h"
#include "murmex/base/WhisperError.h"

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace halvex {

std::optional<std::string> transcribePathArgument(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--transcribe") {
            if (i + 1 < arguments.size()) return arguments[i + 1];
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const murmex::WhisperError& e) {
        // The case name and its message, as the enumeration prints itself;
        // message() rather than what(), which would log the message again.
        return std::string(murmex::WhisperError::kindName(e.kind())) + "(\"" + e.message() + "\")";
    } catch (...) {
        return errorDebugText(std::current_exception());
    }
}

namespace {
void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}
} // namespace

int runCommandLineTranscription(const std::string& path) {
    try {
        Transcriber transcriber;
        std::string text = transcriber.transcribeFile(path);
        writeAll(STDOUT_FILENO, "TRANSCRIPT: " + text + "\n");
        return 0;
    } catch (...) {
        writeAll(STDERR_FILENO, "ERROR: " + errorText(std::current_exception()) + "\n");
        return 1;
    }
}

} // namespace halvex
