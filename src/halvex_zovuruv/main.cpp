#include <cstdio>
#include <cstring>

// Entry point. The command-line transcription road and the desktop
// application are added as the engine and the user interface land.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: halvex-zovuruv [--transcribe <audio file>]\n");
            return 0;
        }
    }
    std::fprintf(stderr, "usage: halvex-zovuruv [--transcribe <audio file>]\n");
    return 2;
}
