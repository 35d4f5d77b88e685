#pragma once
// Interval signposts of the engine's stages: the feature extractor
// ("ExtractAudioFeatures"), the audio encoder ("EncodeAudio") and the
// transcription task ("TranscribeAudio", "Decode"). Each stage has one
// signposter named after it, made on first use. Intervals are timed only
// while the engine logger lets debug lines through, and their lines go to the
// engine logger, so an installed logging callback receives them too.

#include "platform/system/Signpost.h"

#include <string_view>

namespace murmex::Signposts {

struct AudioEncoding {
    static const platform::system::Signposter& signposter();
};
struct FeatureExtractor {
    static const platform::system::Signposter& signposter();
};
struct TranscribeTask {
    static const platform::system::Signposter& signposter();
};

/// Opens an interval (always, so that it can be ended later).
platform::system::SignpostInterval beginSignpost(std::string_view name,
                                                 const platform::system::Signposter& signposter);
/// Ends it; an interval ended twice is reported, not an error.
void endSignpost(std::string_view name, platform::system::SignpostInterval& interval,
                 const platform::system::Signposter& signposter);

} // namespace murmex::Signposts
