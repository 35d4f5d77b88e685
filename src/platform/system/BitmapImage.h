#pragma once
// A bitmap image in memory: 8 bits per colour component, 32 bits per pixel,
// rows of `bytesPerRow` bytes from the top. Each pixel's four bytes are
// blue, green, red and alpha (a 32-bit little-endian word with alpha in the
// high byte), colour premultiplied by alpha, in the device RGB colour space.

#include <cstdint>
#include <vector>

namespace platform::system {

struct BitmapImage {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    std::vector<uint8_t> bytes;
};

} // namespace platform::system
