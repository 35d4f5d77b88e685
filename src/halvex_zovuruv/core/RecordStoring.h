#pragma once
// What the dictation controller needs of the record store.

#include "halvex_zovuruv/core/DictationRecord.h"

#include <string>
#include <vector>

namespace halvex {

class RecordStoring {
public:
    virtual ~RecordStoring() = default;

    /// Every stored record, oldest first; none when there are none or the
    /// store cannot be read.
    virtual std::vector<DictationRecord> loadAll() = 0;

    /// Appends a record of an inserted text, made now.
    virtual void record(const std::string& text, double seconds, double transcriptionSeconds,
                        bool aiProcessed) = 0;
};

} // namespace halvex
