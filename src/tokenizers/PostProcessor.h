#pragma once
// Post-processors take the token texts of one sequence (and optionally of a
// paired one) and return the final token list with the model's special
// tokens added. One immutable class per document "type".

#include "hub/Config.h"

#include <memory>
#include <string>
#include <vector>

namespace tokenizers {

class PostProcessor {
public:
    virtual ~PostProcessor() = default;
    /// `tokensPair` may be null (no second sequence).
    virtual std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                                 const std::vector<std::string>* tokensPair,
                                                 bool addSpecialTokens) const = 0;
    std::vector<std::string> operator()(const std::vector<std::string>& tokens,
                                        const std::vector<std::string>* tokensPair = nullptr,
                                        bool addSpecialTokens = true) const {
        return postProcess(tokens, tokensPair, addSpecialTokens);
    }
    /// True when the tokens of a sequence come out unchanged, in order and
    /// as whole blocks, so that the output can be laid out from a
    /// placeholder for the sequence instead of its token texts.
    virtual bool passesTokensThrough() const { return false; }
};

using PostProcessorPtr = std::shared_ptr<const PostProcessor>;

class PostProcessorFactory {
public:
    /// No post-processor for a null configuration or one without a text
    /// "type"; an unknown type throws ConfigurationError.
    static PostProcessorPtr fromConfig(const hub::Config& config);
};

class TemplateProcessing final : public PostProcessor {
public:
    explicit TemplateProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         const std::vector<std::string>* tokensPair,
                                         bool addSpecialTokens) const override;
    bool passesTokensThrough() const override { return true; }

private:
    hub::Config::Array single_;
    hub::Config::Array pair_;
};

class ByteLevelPostProcessor final : public PostProcessor {
public:
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         const std::vector<std::string>*, bool) const override {
        return tokens;
    }
    bool passesTokensThrough() const override { return true; }
};

class RobertaProcessing final : public PostProcessor {
public:
    explicit RobertaProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         const std::vector<std::string>* tokensPair,
                                         bool addSpecialTokens) const override;
    bool passesTokensThrough() const override { return !trimOffset_; }

private:
    hub::Config::Token sep_;
    hub::Config::Token cls_;
    bool trimOffset_;
    bool addPrefixSpace_;
};

class BertProcessing final : public PostProcessor {
public:
    explicit BertProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         const std::vector<std::string>* tokensPair,
                                         bool addSpecialTokens) const override;
    bool passesTokensThrough() const override { return true; }

private:
    hub::Config::Token sep_;
    hub::Config::Token cls_;
};

class SequenceProcessing final : public PostProcessor {
public:
    explicit SequenceProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
                                         const std::vector<std::string>* tokensPair,
                                         bool addSpecialTokens) const override;
    bool passesTokensThrough() const override;

private:
    std::vector<PostProcessorPtr> processors_;
};

} // namespace tokenizers
