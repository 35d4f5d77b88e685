#pragma once
// The program's two modes: transcribe one file from the command line, or
// run the desktop application.

#include <optional>
#include <string>
#include <vector>

namespace halvex {

/// The path after the first argument that is exactly "--transcribe", or
/// nothing (menu-bar mode) when there is no such argument or it is the last.
/// `arguments` is the full argument vector, the program's path included.
std::optional<std::string> transcribePathArgument(const std::vector<std::string>& arguments);

/// The error's default textual form for the "ERROR: " line.
std::string errorText(const std::exception_ptr& error);

/// Transcribes the file and prints "TRANSCRIPT: <text>" on standard output
/// (status 0), or "ERROR: <error>" on standard error (status 1).
int runCommandLineTranscription(const std::string& path);

} // namespace halvex
