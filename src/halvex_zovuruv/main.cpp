#include "halvex_zovuruv/CommandLine.h"
#include "halvex_zovuruv/TrayApplication.h"

#include <cstdio>
#include <string>
#include <vector>

// Entry point: with "--transcribe <path>" the program transcribes that file
// and exits; "--help" prints the usage; otherwise the desktop application
// starts in the tray.
int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (auto path = halvex::transcribePathArgument(arguments)) {
        return halvex::runCommandLineTranscription(*path);
    }
    const char* usage =
        "usage: halvex-zovuruv                 start the dictation application in the tray\n"
        "       halvex-zovuruv --transcribe <audio file>\n"
        "  Transcribes the file with the on-device speech model and prints\n"
        "  \"TRANSCRIPT: <text>\". The model is looked for in\n"
        "  $XDG_DATA_HOME/Corvane Zovuruv (default ~/.local/share/Corvane Zovuruv) and\n"
        "  downloaded from $HALVEX_ZOVURUV_MODEL_URL when missing.\n";
    for (const auto& a : arguments) {
        if (a == "--help" || a == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    return halvex::runTrayApplication(argc, argv);
}
