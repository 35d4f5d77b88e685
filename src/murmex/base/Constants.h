#pragma once
// Fixed values of the speech engine: the audio rate and mel hop, the seconds
// of a timestamp token, token context, window and read sizes, the default
// language, the punctuation sets of word timestamps, the model-support file
// name, the Whisper language table and the characters of special-token
// markers. The language table is built once, on first use (thread-safe), and
// never changes. The built-in model-support table stands beside its type
// (`ModelSupportConfig.h`).

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace murmex::Constants {

/// Samples per second of all audio the engine handles (mono).
inline constexpr int sampleRate = 16000;
/// Samples per mel frame.
inline constexpr int hopLength = 160;
/// Seconds per Whisper timestamp token: token timeTokenBegin + k is k x 0.02 s
/// into the window.
inline constexpr float secondsPerTimeToken = 0.02f;
inline constexpr int maxTokenContext = 224;
/// 30 s at 16 kHz.
inline constexpr int defaultWindowSamples = 30 * sampleRate;
/// 30 s at 44.1 kHz.
inline constexpr std::uint32_t defaultAudioReadFrameSize = 1323000;
inline constexpr std::string_view defaultLanguageCode = "en";
/// " ' “ ¡ ¿ ( [ { -
inline constexpr std::string_view defaultPrependPunctuations = "\"'\u201c\u00a1\u00bf([{-";
/// " ' . 。 , ， ! ！ ? ？ : ： ” ) ] } 、
inline constexpr std::string_view defaultAppendPunctuations =
    "\"'.\u3002,\uff0c!\uff01?\uff1f:\uff1a\u201d)]}\u3001";
inline constexpr std::string_view defaultRemoteConfigName = "config.json";
/// Base address of the public model hub.
inline constexpr std::string_view defaultRemoteEndpoint = "https://hub.murmex.dev";
/// "<", "|" and ">": trimmed from a decoded language token to get its code.
inline constexpr std::string_view specialTokenCharacters = "<|>";

/// Lower-case English language name -> Whisper language code (112 entries,
/// 12 of them aliases).
const std::unordered_map<std::string, std::string>& languages();
/// The 100 distinct codes of `languages()`.
const std::unordered_set<std::string>& languageCodes();

} // namespace murmex::Constants
