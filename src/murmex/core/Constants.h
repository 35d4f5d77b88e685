#pragma once
// Fixed values of the speech engine: token context, window and read sizes,
// the default language, the punctuation sets of word timestamps, the
// model-support file name, the Whisper language table, the characters of
// special-token markers and the built-in model-support table. The tables are
// built once, on first use (thread-safe), and never change.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace murmex {

struct ModelSupportConfig;

namespace Constants {

inline constexpr int maxTokenContext = 224;
/// 30 s at 16 kHz.
inline constexpr int defaultWindowSamples = 480000;
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
/// The built-in model-support table.
const ModelSupportConfig& fallbackModelSupportConfig();
/// Every model folder the fallback table supports, once each, in row order.
const std::vector<std::string>& knownModels();

} // namespace Constants

} // namespace murmex
