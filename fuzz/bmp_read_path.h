#pragma once
// The whole path of a file through the program, from arbitrary bytes: read as
// a BMP; what reads is written back, read pixel by pixel, processed, written
// and read again. Shared by the fuzz target and by the test that replays
// fuzz/regressions/ in the normal test run, so both run exactly this.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/bitmap.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/color_ops.h"

namespace tovi::fuzz {

// Refusing the bytes is fine; any other error escaping from here, a crash or a
// hang is a fault.
inline void readProcessWrite(const std::uint8_t *data, std::size_t size)
{
    platform::MemoryStream in(std::vector<std::uint8_t>(data, data + size));
    picture::Bitmap bitmap;
    try {
        bitmap.loadFromStream(in);
    } catch (const PictureFormatError &) {
        return;
    } catch (const StreamReadError &) {
        return;
    }
    platform::MemoryStream unchanged;
    bitmap.saveToStream(unchanged);
    if (bitmap.width() > 512 || bitmap.height() > 512)
        return;
    volatile std::uint32_t sum = 0;
    for (int y = -1; y <= bitmap.height(); ++y)
        for (int x = -1; x <= bitmap.width(); ++x)
            sum = sum + bitmap.pixel(x, y);
    // Each mode of the table, or (one input in kModes.size() + 1) a code no
    // mode has.
    const std::size_t row = size % (process::kModes.size() + 1);
    const int mode = row < process::kModes.size() ? process::kModes[row].code : process::unusedModeCode();
    process::processColors(bitmap, mode, 0x00FFFFFF, 0);
    platform::MemoryStream out;
    bitmap.saveToStream(out);
    platform::MemoryStream back(out.data());
    picture::Bitmap again;
    again.loadFromStream(back);
}

}  // namespace tovi::fuzz
