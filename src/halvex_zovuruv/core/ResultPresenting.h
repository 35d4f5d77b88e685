#pragma once
// The result window: shows a transcript for editing and reports what the
// user chose. Main thread only.

#include "halvex_zovuruv/core/DictationRecord.h"

#include <functional>
#include <string>
#include <vector>

namespace halvex {

/// What the user picked in the result window.
struct ResultChoice {
    enum class Kind {
        translate, ///< translate into `language`, then insert
        insert,    ///< insert the text unchanged
        ai,        ///< clean the text up with the AI model, then insert
        cancel,    ///< drop the text
    };

    Kind kind = Kind::cancel;
    std::string language; ///< for translate: "English" or "Simplified Chinese"

    static ResultChoice translate(std::string language) {
        return {Kind::translate, std::move(language)};
    }
    static ResultChoice insert() { return {Kind::insert, {}}; }
    static ResultChoice ai() { return {Kind::ai, {}}; }
    static ResultChoice cancel() { return {Kind::cancel, {}}; }

    friend bool operator==(const ResultChoice&, const ResultChoice&) = default;
};

class ResultPresenting {
public:
    /// Receives the choice and the editor's whole text at that moment.
    using Completion = std::function<void(const ResultChoice&, const std::string&)>;

    virtual ~ResultPresenting() = default;

    /// Shows `text` with up to three earlier records (newest first) to load
    /// into the editor, and calls `done` once on the main thread when the
    /// user has chosen. A window may still be open when the next one is
    /// shown (a second dictation can start meanwhile); each keeps its own
    /// text and choice.
    virtual void present(const std::string& text, const std::vector<DictationRecord>& previous,
                         Completion done) = 0;
};

} // namespace halvex
