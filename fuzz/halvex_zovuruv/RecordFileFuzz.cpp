// Feeds arbitrary bytes to the record store's file reader; whatever it
// accepts must write back to a file that reads as the same records.

#include "halvex_zovuruv/core/RecordCoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto records = halvex::decodeRecords(bytes);
    if (!records) return 0;
    const auto written = halvex::encodeRecords(*records);
    if (!written) std::abort(); // what was read is valid UTF-8 and finite
    const auto reread = halvex::decodeRecords(*written);
    if (!reread || *reread != *records) std::abort();
    return 0;
}
