// Feeds arbitrary bytes to the audio file reader as a file on disk: opening,
// reading every frame and seeking back must either work or fail with a
// SystemError, never crash or hang.

#include "platform/audio/AudioFile.h"
#include "platform/system/SystemError.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        std::string pattern = "/tmp/zv-fuzz-audio-XXXXXX";
        const int descriptor = mkstemp(pattern.data());
        if (descriptor >= 0) close(descriptor);
        return pattern;
    }();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    try {
        auto audio = platform::audio::AudioFile::open(path);
        auto buffer = platform::audio::PcmBuffer::make(audio->processingFormat(), 4096);
        if (!buffer) return 0;
        // Bounded work per input: a stated length can be anything.
        for (int piece = 0; piece < 64; ++piece) {
            audio->read(*buffer, 4096);
            if (buffer->frameLength() == 0) break;
        }
        audio->setFramePosition(audio->length() / 2);
        audio->read(*buffer, 100);
        audio->setFramePosition(0);
        audio->read(*buffer, 100);
    } catch (const platform::system::SystemError&) {
    }
    return 0;
}
