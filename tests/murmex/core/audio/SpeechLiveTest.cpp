// Real speech through the live paths, on the project's trained speech model:
// the streaming transcriber listening to a microphone (a private PulseAudio
// server fed with recordings), and voice-activity chunking of a long
// recording, each against the plain transcription of the same audio.

#include "murmex/base/Extensions.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/core/audio/AudioStreamTranscriber.h"
#include "support/PulseAudioServer.h"
#include "support/SpeechModel.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>

namespace murmex {
namespace {

std::shared_ptr<Murmex> speechEngine() {
    return Murmex::create(MurmexConfig{.modelFolder = zvtest::speechModelFolder().string(),
                                       .tokenizerFolder = zvtest::speechTokenizerFolder().string(),
                                       .verbose = false,
                                       .load = true,
                                       .download = false});
}

/// The held-back recordings from `first` on, `count` of them, each followed
/// by `pause` seconds of silence, after half a second of it.
std::vector<float> sentences(size_t first, size_t count, double pause) {
    const auto recordings = zvtest::speechRecordings();
    std::vector<float> samples(8000, 0.0f);
    for (size_t i = first; i < first + count && i < recordings.size(); ++i) {
        const auto spoken = AudioProcessor::loadAudioAsFloatArray(recordings[i].path.string());
        samples.insert(samples.end(), spoken.begin(), spoken.end());
        samples.insert(samples.end(), size_t(pause * 16000), 0.0f);
    }
    return samples;
}

/// The words of a text, special-token markers ("<|ru|>") left out.
std::vector<std::string> wordsOf(const std::string& text) {
    static const std::regex marker("<\\|[^|]*\\|>");
    std::stringstream in(normalized(std::regex_replace(text, marker, " ")));
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::vector<std::string> wordsOf(const std::vector<TranscriptionResult>& results) {
    std::string text;
    for (const auto& result : results)
        text += result.text() + " ";
    return wordsOf(text);
}

DecodingOptions russian() {
    DecodingOptions options;
    options.language = "ru";
    return options;
}

TEST(SpeechLive, StreamingFromTheMicrophoneConfirmsWhatTheFileTranscriptionSays) {
    zvtest::PulseAudioServer server;
    if (!server.running()) GTEST_SKIP() << "PulseAudio cannot start here: " << server.failure();
    auto engine = speechEngine();
    const std::vector<float> fed = sentences(1, 4, 1.0);
    auto processor = std::make_shared<AudioProcessor>();
    AudioStreamTranscriber transcriber(engine->audioEncoder(), engine->featureExtractor(),
                                       engine->segmentSeeker(), engine->textDecoder(),
                                       engine->tokenizer(), processor, russian());
    std::thread loop([&] { transcriber.startStreamTranscription(); });
    for (int i = 0; i < 500 && !processor->isRecording(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(processor->isRecording());
    server.feed(fed);
    server.waitForFeed();
    // Speech is over a pause before the feed is: wait for a pass that hears
    // all of it.
    const auto spoken = int64_t(processor->audioSampleCount()) - 16000;
    for (int i = 0; i < 600 && transcriber.state().lastBufferSize < spoken; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(transcriber.state().lastBufferSize, spoken);
    transcriber.stopStreamTranscription();
    loop.join();

    const AudioStreamTranscriber::State state = transcriber.state();
    std::string streamed;
    for (const auto& segment : state.confirmedSegments)
        streamed += segment.text + " ";
    for (const auto& segment : state.unconfirmedSegments)
        streamed += segment.text + " ";
    const auto fileWords = wordsOf(engine->transcribeAudioArray(fed, russian()));
    EXPECT_EQ(wordsOf(streamed), fileWords) << streamed;
    if (fileWords.empty())
        GTEST_SKIP() << "the speech model transcribes nothing of these recordings yet";
    EXPECT_FALSE(state.confirmedSegments.empty());
}

TEST(SpeechLive, ChunkedTranscriptionHearsTheWordsOfTheWindowLoop) {
    auto engine = speechEngine();
    // Sentences with pauses, a little over two windows long.
    std::vector<float> samples = sentences(0, 40, 0.8);
    samples.resize(std::min(samples.size(), size_t(70 * 16000)));
    const auto windowWords = wordsOf(engine->transcribeAudioArray(samples, russian()));
    DecodingOptions chunking = russian();
    chunking.chunkingStrategy = ChunkingStrategy::vad;
    const auto chunked = engine->transcribeAudioArray(samples, chunking);
    EXPECT_GT(chunked.size(), 2u);
    EXPECT_EQ(wordsOf(chunked), windowWords);
    if (windowWords.empty())
        GTEST_SKIP() << "the speech model transcribes nothing of these recordings yet";
}

} // namespace
} // namespace murmex
