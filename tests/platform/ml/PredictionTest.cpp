#include "TestModels.h"
#include "model_gen/MelFilterBank.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <numbers>
#include <random>
#include <thread>

using platform::ml::DictionaryFeatureProvider;
using platform::ml::ElementType;
using platform::ml::FeatureValue;
using platform::ml::Model;
using platform::ml::ModelError;
using platform::ml::MultiArray;
using platform::ml::WhisperDimensions;
using platform::ml::WhisperLayout;
using platform::ml::WhisperStage;

namespace {

// A plain-loop Whisper decoder over a whole token sequence with a causal mask.
struct ReferenceDecoder {
    WhisperDimensions dims;
    std::map<std::string, std::vector<float>> w;

    using Vector = std::vector<double>;

    Vector layerNorm(const Vector& x, const std::string& name) const {
        double mean = 0, var = 0;
        for (double v : x)
            mean += v;
        mean /= static_cast<double>(x.size());
        for (double v : x)
            var += (v - mean) * (v - mean);
        var /= static_cast<double>(x.size());
        Vector y(x.size());
        const auto& g = w.at(name + ".weight");
        const auto& b = w.at(name + ".bias");
        for (size_t i = 0; i < x.size(); ++i)
            y[i] = (x[i] - mean) / std::sqrt(var + 1e-5) * g[i] + b[i];
        return y;
    }
    Vector linear(const Vector& x, const std::string& name, bool bias = true) const {
        const auto& m = w.at(name + ".weight");
        size_t in = x.size(), out = m.size() / in;
        Vector y(out, 0.0);
        for (size_t o = 0; o < out; ++o) {
            for (size_t i = 0; i < in; ++i)
                y[o] += m[o * in + i] * x[i];
            if (bias) y[o] += w.at(name + ".bias")[o];
        }
        return y;
    }
    // Attention of one query over keys/values (rows), all heads.
    Vector attend(const Vector& q, const std::vector<Vector>& k,
                  const std::vector<Vector>& v) const {
        size_t d = q.size(), heads = static_cast<size_t>(dims.nTextHead), dh = d / heads;
        Vector out(d, 0.0);
        for (size_t h = 0; h < heads; ++h) {
            std::vector<double> s(k.size());
            double maximum = -1e300;
            for (size_t j = 0; j < k.size(); ++j) {
                double dotp = 0;
                for (size_t i = 0; i < dh; ++i)
                    dotp += q[h * dh + i] * k[j][h * dh + i];
                s[j] = dotp / std::sqrt(static_cast<double>(dh));
                maximum = std::max(maximum, s[j]);
            }
            double sum = 0;
            for (double& x : s)
                sum += (x = std::exp(x - maximum));
            for (size_t j = 0; j < k.size(); ++j) {
                for (size_t i = 0; i < dh; ++i)
                    out[h * dh + i] += s[j] / sum * v[j][h * dh + i];
            }
        }
        return out;
    }
    // Logits for every position of `tokens`, given the encoder output [frames][width].
    std::vector<Vector> run(const std::vector<int>& tokens,
                            const std::vector<Vector>& encoder) const {
        size_t d = static_cast<size_t>(dims.nTextState);
        std::vector<Vector> x(tokens.size(), Vector(d));
        for (size_t p = 0; p < tokens.size(); ++p) {
            for (size_t c = 0; c < d; ++c) {
                x[p][c] = w.at("token_embedding")[tokens[p] * d + c] +
                          w.at("positional_embedding")[p * d + c];
            }
        }
        for (int64_t l = 0; l < dims.nTextLayer; ++l) {
            std::string prefix = "layers." + std::to_string(l);
            std::vector<Vector> q, k, v;
            for (auto& row : x) {
                Vector h = layerNorm(row, prefix + ".attn_ln");
                q.push_back(linear(h, prefix + ".attn.query"));
                k.push_back(linear(h, prefix + ".attn.key", false));
                v.push_back(linear(h, prefix + ".attn.value"));
            }
            std::vector<Vector> ck, cv;
            for (auto& frame : encoder) {
                ck.push_back(linear(frame, prefix + ".cross_attn.key", false));
                cv.push_back(linear(frame, prefix + ".cross_attn.value"));
            }
            for (size_t p = 0; p < x.size(); ++p) {
                std::vector<Vector> visibleK(k.begin(), k.begin() + static_cast<long>(p) + 1);
                std::vector<Vector> visibleV(v.begin(), v.begin() + static_cast<long>(p) + 1);
                Vector o = linear(attend(q[p], visibleK, visibleV), prefix + ".attn.out");
                for (size_t c = 0; c < d; ++c)
                    x[p][c] += o[c];
                Vector cq = linear(layerNorm(x[p], prefix + ".cross_attn_ln"),
                                   prefix + ".cross_attn.query");
                o = linear(attend(cq, ck, cv), prefix + ".cross_attn.out");
                for (size_t c = 0; c < d; ++c)
                    x[p][c] += o[c];
                Vector hidden = linear(layerNorm(x[p], prefix + ".mlp_ln"), prefix + ".mlp.fc1");
                for (double& value : hidden)
                    value = 0.5 * value * (1.0 + std::erf(value / std::sqrt(2.0)));
                o = linear(hidden, prefix + ".mlp.fc2");
                for (size_t c = 0; c < d; ++c)
                    x[p][c] += o[c];
            }
        }
        std::vector<Vector> logits;
        for (auto& row : x) {
            Vector h = layerNorm(row, "ln");
            Vector out(static_cast<size_t>(dims.nVocab), 0.0);
            for (size_t t = 0; t < out.size(); ++t) {
                for (size_t c = 0; c < d; ++c)
                    out[t] += w.at("token_embedding")[t * d + c] * h[c];
            }
            logits.push_back(out);
        }
        return logits;
    }
};

class PredictionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new std::filesystem::path(mltest::scratchFolder("prediction"));
        models_ = new modelgen::GeneratedModels(
            modelgen::generateWhisperModels(*folder_, mltest::exactOptions()));
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*folder_);
        delete models_;
        delete folder_;
    }

    static MultiArray melOf(const Model& mel, const std::vector<float>& samples) {
        MultiArray audio({static_cast<int64_t>(samples.size())}, ElementType::float32);
        std::copy(samples.begin(), samples.end(), audio.data<float>());
        DictionaryFeatureProvider input;
        input.set("audio", audio);
        return *mel.prediction(input)->featureValue("melspectrogram_features")->multiArrayValue();
    }

    static MultiArray randomEncoderOutput(const WhisperDimensions& dims, unsigned seed) {
        MultiArray array({1, dims.nAudioState, 1, dims.nAudioCtx}, ElementType::float16);
        std::mt19937 random(seed);
        std::normal_distribution<float> normal(0.0f, 1.0f);
        for (int64_t i = 0; i < array.count(); ++i)
            array.setValue(i, normal(random));
        return array;
    }

    static std::filesystem::path* folder_;
    static modelgen::GeneratedModels* models_;
};

std::filesystem::path* PredictionTest::folder_ = nullptr;
modelgen::GeneratedModels* PredictionTest::models_ = nullptr;

TEST_F(PredictionTest, TokenByTokenDecodingMatchesAFullCausalPass) {
    auto options = mltest::exactOptions();
    const auto& dims = options.dimensions;
    auto decoder = Model::load(models_->textDecoder);
    MultiArray encoder = randomEncoderOutput(dims, 3);

    const std::vector<int> tokens = {5, 17, 250, 3, 99, 42, 7};
    mltest::DecoderInputs inputs(dims);
    // Stale values in positions not yet reached must not matter: the padding mask hides them.
    for (int64_t c = 0; c < inputs.keyCache.shape()[1]; ++c) {
        for (int64_t p = 1; p < dims.kvCacheLength; ++p) {
            inputs.keyCache.setValueAt({0, c, 0, p}, 3.0 * std::sin(c + p));
            inputs.valueCache.setValueAt({0, c, 0, p}, -2.0);
        }
    }
    std::vector<std::vector<float>> stepLogits;
    for (size_t i = 0; i < tokens.size(); ++i) {
        inputs.inputIds.setValue(0, tokens[i]);
        inputs.cacheLength.setValue(0, static_cast<double>(i));
        auto output = decoder->prediction(inputs.provider(encoder));
        stepLogits.push_back(output->featureValue("logits")->multiArrayValue()->toFloatVector());
        inputs.advance(*output, static_cast<int64_t>(i));
    }

    ReferenceDecoder reference{dims, modelgen::weightValues(WhisperStage::textDecoder, options)};
    std::vector<ReferenceDecoder::Vector> frames(
        static_cast<size_t>(dims.nAudioCtx),
        ReferenceDecoder::Vector(static_cast<size_t>(dims.nTextState)));
    for (int64_t c = 0; c < dims.nTextState; ++c) {
        for (int64_t t = 0; t < dims.nAudioCtx; ++t)
            frames[t][c] = encoder.valueAt({0, c, 0, t});
    }
    auto expected = reference.run(tokens, frames);
    for (size_t i = 0; i < tokens.size(); ++i) {
        ASSERT_EQ(stepLogits[i].size(), expected[i].size());
        double worst = 0;
        for (size_t t = 0; t < expected[i].size(); ++t) {
            worst = std::max(worst, std::abs(stepLogits[i][t] - expected[i][t]) /
                                        (1.0 + std::abs(expected[i][t])));
        }
        EXPECT_LT(worst, 1e-2) << "step " << i;
    }
}

TEST_F(PredictionTest, AlignmentWeightsAreADistributionOverFrames) {
    auto dims = mltest::exactOptions().dimensions;
    auto decoder = Model::load(models_->textDecoder);
    mltest::DecoderInputs inputs(dims);
    inputs.inputIds.setValue(0, 1);
    auto output = decoder->prediction(inputs.provider(randomEncoderOutput(dims, 4)));
    auto weights =
        output->featureValue("alignment_heads_weights")->multiArrayValue()->toFloatVector();
    ASSERT_EQ(weights.size(), static_cast<size_t>(dims.nAudioCtx));
    double sum = 0;
    for (float w : weights) {
        EXPECT_GE(w, 0.0f);
        sum += w;
    }
    EXPECT_NEAR(sum, 1.0, 0.02);
}

TEST_F(PredictionTest, ChangedEncoderOutputIsNotServedFromTheCrossAttentionCache) {
    auto dims = mltest::exactOptions().dimensions;
    auto decoder = Model::load(models_->textDecoder);
    MultiArray encoder = randomEncoderOutput(dims, 5);
    mltest::DecoderInputs inputs(dims);
    inputs.inputIds.setValue(0, 11);
    auto first = decoder->prediction(inputs.provider(encoder))
                     ->featureValue("logits")
                     ->multiArrayValue()
                     ->toFloatVector();
    auto again = decoder->prediction(inputs.provider(encoder))
                     ->featureValue("logits")
                     ->multiArrayValue()
                     ->toFloatVector();
    EXPECT_EQ(first, again);
    // Rewriting the same array in place (as a window loop reusing its buffer would).
    MultiArray other = randomEncoderOutput(dims, 6);
    std::copy(other.data<uint16_t>(), other.data<uint16_t>() + other.count(),
              encoder.data<uint16_t>());
    auto changed = decoder->prediction(inputs.provider(encoder))
                       ->featureValue("logits")
                       ->multiArrayValue()
                       ->toFloatVector();
    auto fresh = decoder->prediction(inputs.provider(other))
                     ->featureValue("logits")
                     ->multiArrayValue()
                     ->toFloatVector();
    EXPECT_NE(changed, first);
    EXPECT_EQ(changed, fresh);
}

TEST_F(PredictionTest, ConcurrentPredictionsOnOneModelAgreeWithSerialOnes) {
    auto dims = mltest::exactOptions().dimensions;
    auto decoder = Model::load(models_->textDecoder);
    std::vector<MultiArray> encoders;
    std::vector<std::vector<float>> serial;
    for (unsigned i = 0; i < 6; ++i) {
        encoders.push_back(randomEncoderOutput(dims, 20 + i));
        mltest::DecoderInputs inputs(dims);
        inputs.inputIds.setValue(0, 30 + i);
        serial.push_back(decoder->prediction(inputs.provider(encoders[i]))
                             ->featureValue("logits")
                             ->multiArrayValue()
                             ->toFloatVector());
    }
    std::vector<std::vector<float>> parallel(encoders.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < encoders.size(); ++i) {
        threads.emplace_back([&, i] {
            mltest::DecoderInputs inputs(dims);
            inputs.inputIds.setValue(0, 30 + static_cast<double>(i));
            parallel[i] = decoder->prediction(inputs.provider(encoders[i]))
                              ->featureValue("logits")
                              ->multiArrayValue()
                              ->toFloatVector();
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(parallel, serial);
}

TEST_F(PredictionTest, WrongInputsAreRefusedWithTheFeatureNamed) {
    auto dims = mltest::exactOptions().dimensions;
    auto decoder = Model::load(models_->textDecoder);
    MultiArray encoder = randomEncoderOutput(dims, 1);
    struct Case {
        const char* expected;
        std::function<void(DictionaryFeatureProvider&)> change;
    };
    const std::vector<Case> cases = {
        {"\"input_ids\" is missing",
         [](auto& p) {
             DictionaryFeatureProvider without;
             for (auto& [name, value] : p.dictionary()) {
                 if (name != "input_ids") without.set(name, value);
             }
             p = without;
         }},
        {"\"key_cache\" has shape",
         [&](auto& p) {
             p.set("key_cache",
                   MultiArray({1, dims.kvCacheEmbedDim(), 1, 7}, ElementType::float16));
         }},
        {"\"decoder_key_padding_mask\" has element type float32",
         [&](auto& p) {
             p.set("decoder_key_padding_mask",
                   MultiArray({1, dims.kvCacheLength}, ElementType::float32));
         }},
        {"\"encoder_output_embeds\" must be a multi-array",
         [](auto& p) { p.set("encoder_output_embeds", FeatureValue::fromInt64(3)); }},
        {"\"input_ids\" holds the token 300",
         [](auto& p) {
             MultiArray ids({1}, ElementType::int32);
             ids.setValue(0, 300);
             p.set("input_ids", ids);
         }},
        {"\"cache_length\" holds the position -1",
         [](auto& p) {
             MultiArray length({1}, ElementType::int32);
             length.setValue(0, -1);
             p.set("cache_length", length);
         }},
    };
    for (const Case& c : cases) {
        mltest::DecoderInputs inputs(dims);
        DictionaryFeatureProvider provider = inputs.provider(encoder);
        c.change(provider);
        try {
            decoder->prediction(provider);
            ADD_FAILURE() << c.expected;
        } catch (const ModelError& error) {
            EXPECT_EQ(error.kind(), ModelError::Kind::invalidInput);
            EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos)
                << error.what();
        }
    }
}

TEST_F(PredictionTest, SilenceGivesTheFloorValue) {
    auto mel = Model::load(models_->melSpectrogram);
    MultiArray features = melOf(*mel, std::vector<float>(480000, 0.0f));
    EXPECT_EQ(features.shape(), (std::vector<int64_t>{1, 80, 1, 3000}));
    EXPECT_EQ(features.dataType(), ElementType::float16);
    for (float value : features.toFloatVector())
        ASSERT_EQ(value, -1.5f); // (log10(1e-10) + 4) / 4
}

TEST_F(PredictionTest, PureToneLandsInTheFilterOfItsFrequency) {
    auto mel = Model::load(models_->melSpectrogram);
    const std::vector<float> bank = modelgen::melFilterBank(80);
    for (double frequency : {440.0, 1000.0, 3000.0}) {
        std::vector<float> samples(480000);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] =
                0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * frequency * i / 16000.0));
        }
        MultiArray features = melOf(*mel, samples);
        // The filter that weighs the tone's transform bin most.
        size_t bin = static_cast<size_t>(std::lround(frequency * 400 / 16000));
        int64_t expected = 0;
        for (int64_t m = 1; m < 80; ++m) {
            if (bank[m * 201 + bin] > bank[expected * 201 + bin]) expected = m;
        }
        for (int64_t frame : {10, 1500, 2990}) {
            int64_t best = 0;
            for (int64_t m = 1; m < 80; ++m) {
                if (features.valueAt({0, m, 0, frame}) > features.valueAt({0, best, 0, frame}))
                    best = m;
            }
            EXPECT_EQ(best, expected) << frequency << " Hz, frame " << frame;
        }
    }
}

TEST_F(PredictionTest, MelMatchesAPlainTransformOfTheSameFrames) {
    auto mel = Model::load(models_->melSpectrogram);
    std::mt19937 random(9);
    std::uniform_real_distribution<float> uniform(-0.3f, 0.3f);
    std::vector<float> samples(480000);
    for (float& s : samples)
        s = uniform(random);
    MultiArray features = melOf(*mel, samples);
    const std::vector<float> bank = modelgen::melFilterBank(80);
    // White noise keeps every value far above the (maximum − 8) floor, so the
    // plain log-mel of a frame can be compared directly. Frame 0 covers the reflected edge.
    for (int64_t frame : {0, 1, 777, 2999}) {
        std::vector<double> padded(400);
        for (int64_t n = 0; n < 400; ++n) {
            int64_t index = frame * 160 + n - 200;
            if (index < 0) index = -index;
            if (index >= 480000) index = 2 * 479999 - index;
            padded[n] = samples[index] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / 400));
        }
        for (int64_t m = 0; m < 80; ++m) {
            double energy = 0;
            for (int64_t k = 0; k < 201; ++k) {
                double re = 0, im = 0;
                for (int64_t n = 0; n < 400; ++n) {
                    re += padded[n] * std::cos(2 * std::numbers::pi * k * n / 400);
                    im -= padded[n] * std::sin(2 * std::numbers::pi * k * n / 400);
                }
                energy += bank[m * 201 + k] * (re * re + im * im);
            }
            double expected = (std::log10(std::max(energy, 1e-10)) + 4) / 4;
            EXPECT_NEAR(features.valueAt({0, m, 0, frame}), expected, 4e-3)
                << "frame " << frame << " mel " << m;
        }
    }
}

TEST_F(PredictionTest, EncoderMapsMelToEmbeddingsOfTheDeclaredShape) {
    auto mel = Model::load(models_->melSpectrogram);
    auto encoder = Model::load(models_->audioEncoder);
    std::vector<float> samples(480000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.1f * static_cast<float>(std::sin(i * 0.05));
    DictionaryFeatureProvider input;
    input.set("melspectrogram_features", melOf(*mel, samples));
    auto output =
        encoder->prediction(input)->featureValue("encoder_output_embeds")->multiArrayValue();
    ASSERT_TRUE(output);
    EXPECT_EQ(output->shape(), (std::vector<int64_t>{1, 16, 1, 1500}));
    for (float v : output->toFloatVector())
        ASSERT_TRUE(std::isfinite(v));
}

} // namespace

namespace {

TEST(ContextPrefillTest, ReturnsTheStoredRowsOfTaskAndLanguage) {
    auto folder = mltest::scratchFolder("prefill");
    auto options = mltest::exactOptions();
    options.melSpectrogram = options.audioEncoder = options.textDecoder = false;
    options.prefill = platform::ml::WhisperPrefillSizes{50259, 5, 3};
    auto model =
        Model::load(modelgen::generateWhisperModels(folder, options).textDecoderContextPrefill);
    const auto table = modelgen::weightValues(WhisperStage::textDecoderContextPrefill, options);
    const int64_t e = options.dimensions.kvCacheEmbedDim();

    auto predict = [&](int task, int language) {
        DictionaryFeatureProvider input;
        MultiArray taskArray({1}, ElementType::int32), languageArray({1}, ElementType::int32);
        taskArray.setValue(0, task);
        languageArray.setValue(0, language);
        input.set("task", taskArray);
        input.set("language", languageArray);
        return model->prediction(input);
    };
    auto output = predict(1, 50259 + 2);
    MultiArray keys = *output->featureValue("key_cache_prefill")->multiArrayValue();
    EXPECT_EQ(keys.shape(), (std::vector<int64_t>{1, e, 1, 3}));
    const float* row = table.at("key_cache_prefill").data() + (1 * 5 + 2) * e * 3;
    for (int64_t i = 0; i < e * 3; ++i) {
        ASSERT_EQ(keys.value(i),
                  platform::system::Float16::toFloat(platform::system::Float16::fromFloat(row[i])));
    }
    EXPECT_THROW(predict(2, 50259), ModelError);
    EXPECT_THROW(predict(0, 50259 + 5), ModelError);
    EXPECT_THROW(predict(0, 7), ModelError);
    std::filesystem::remove_all(folder);
}

} // namespace

namespace {

// Models stored in half precision (the generator's and converter's default)
// run the same network as their float32 originals, up to the weights' rounding.
TEST(HalfWeightsTest, HalfStoredModelsTrackTheirFloatOriginals) {
    auto folder = mltest::scratchFolder("half");
    auto options = mltest::exactOptions();
    auto wide = modelgen::generateWhisperModels(folder / "wide", options);
    options.weightType = ElementType::float16;
    auto half = modelgen::generateWhisperModels(folder / "half", options);

    MultiArray mel({1, 80, 1, 3000}, ElementType::float16);
    for (int64_t i = 0; i < mel.count(); ++i)
        mel.setValue(i, std::sin(0.001 * static_cast<double>(i)));
    auto encode = [&](const std::filesystem::path& model) {
        DictionaryFeatureProvider input;
        input.set("melspectrogram_features", mel);
        return *Model::load(model)
                    ->prediction(input)
                    ->featureValue("encoder_output_embeds")
                    ->multiArrayValue();
    };
    MultiArray embedsWide = encode(wide.audioEncoder);
    MultiArray embedsHalf = encode(half.audioEncoder);
    auto a = embedsWide.toFloatVector(), b = embedsHalf.toFloatVector();
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_NEAR(a[i], b[i], 0.05 * (1.0 + std::abs(a[i]))) << i;

    const auto& dims = options.dimensions;
    auto decode = [&](const std::filesystem::path& model) {
        mltest::DecoderInputs inputs(dims);
        inputs.inputIds.setValue(0, 17);
        auto output = Model::load(model)->prediction(inputs.provider(embedsWide));
        return output->featureValue("logits")->multiArrayValue()->toFloatVector();
    };
    auto logitsWide = decode(wide.textDecoder), logitsHalf = decode(half.textDecoder);
    for (size_t i = 0; i < logitsWide.size(); ++i)
        ASSERT_NEAR(logitsWide[i], logitsHalf[i], 0.02 * (1.0 + std::abs(logitsWide[i])));
    std::filesystem::remove_all(folder);
}

} // namespace
