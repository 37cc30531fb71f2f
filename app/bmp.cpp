// Pixels as a 24-bit bottom-up BMP with a BITMAPINFOHEADER: the screenshot and the headless
// renderer write the same bytes.
#include "app/scene_file.h"

namespace {
void PutLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

std::vector<uint8_t> EncodeBmp(const uint32_t* pixels, int32_t width, int32_t height) {
    if (!pixels || width <= 0 || height <= 0) return {};
    // Rows are padded to a multiple of four bytes.
    const size_t rowSize = static_cast<size_t>(width) * 3 + static_cast<size_t>(width % 4);
    const size_t fileSize = 54 + rowSize * static_cast<size_t>(height);
    std::vector<uint8_t> file(fileSize, 0);
    uint8_t* header = file.data();
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian(header + 2, static_cast<uint32_t>(fileSize), 4);
    PutLittleEndian(header + 10, 54, 4);
    PutLittleEndian(header + 14, 40, 4);
    PutLittleEndian(header + 18, static_cast<uint32_t>(width), 4);
    PutLittleEndian(header + 22, static_cast<uint32_t>(height), 4);  // positive: bottom-up
    PutLittleEndian(header + 26, 1, 2);
    PutLittleEndian(header + 28, 24, 2);
    // Compression, image size, resolutions and colour counts stay 0.

    uint8_t* row = file.data() + 54;
    for (int32_t y = height - 1; y >= 0; --y, row += rowSize) {
        const uint32_t* source = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t pixel = source[x];  // 0x00RRGGBB
            row[3 * x] = static_cast<uint8_t>(pixel);
            row[3 * x + 1] = static_cast<uint8_t>(pixel >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(pixel >> 16);
        }
    }
    return file;
}
