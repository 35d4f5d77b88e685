#include "murmex/base/EngineSignposts.h"

#include "tessary_core/Logging.h"

#include <string>

namespace murmex::Signposts {

namespace {

platform::system::Signposter makeSignposter(std::string category) {
    return platform::system::Signposter(
        category, [] { return tessary::Logging::isEnabled(tessary::Logging::LogLevel::debug); },
        [category](std::string_view line) {
            TESSARY_LOG(debug, "[" + category + "] " + std::string(line));
        });
}

} // namespace

const platform::system::Signposter& AudioEncoding::signposter() {
    static const platform::system::Signposter signposter = makeSignposter("AudioEncoding");
    return signposter;
}

const platform::system::Signposter& FeatureExtractor::signposter() {
    static const platform::system::Signposter signposter = makeSignposter("FeatureExtractor");
    return signposter;
}

const platform::system::Signposter& TranscribeTask::signposter() {
    static const platform::system::Signposter signposter = makeSignposter("TranscribeTask");
    return signposter;
}

platform::system::SignpostInterval beginSignpost(std::string_view name,
                                                 const platform::system::Signposter& signposter) {
    return signposter.beginInterval(name);
}

void endSignpost(std::string_view name, platform::system::SignpostInterval& interval,
                 const platform::system::Signposter& signposter) {
    signposter.endInterval(name, interval);
}

} // namespace murmex::Signposts
