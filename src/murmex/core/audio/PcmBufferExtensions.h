#pragma once
// Appending frames of one PCM buffer to another, as the audio front end does
// when it gathers converted audio.

#include "platform/audio/PcmBuffer.h"

#include <cstdint>

namespace murmex {

/// Appends `frameCount` frames of `source`, from `startingFrame` on, behind
/// the frames `destination` holds, every channel. Returns false, changing
/// nothing, when the formats differ ("Format mismatch", debug) or the source
/// holds too few frames ("Insufficient audio in buffer", error; a negative
/// start counts as too few). When the destination lacks room the count is
/// cut to fit ("Insufficient space in buffer, reducing frame count to fit",
/// debug). Appending 0 frames succeeds and changes nothing.
bool appendContents(platform::audio::PcmBuffer& destination,
                    const platform::audio::PcmBuffer& source, int64_t startingFrame,
                    uint32_t frameCount);

} // namespace murmex
