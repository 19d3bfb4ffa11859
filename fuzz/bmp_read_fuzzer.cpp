// Reads arbitrary bytes as a BMP; what reads is processed, read for every
// pixel and written back, so the whole path of a file through the program is
// covered.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/bitmap.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/color_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace tovi;
    platform::MemoryStream in(std::vector<std::uint8_t>(data, data + size));
    picture::Bitmap bitmap;
    try {
        bitmap.loadFromStream(in);
    } catch (const PictureFormatError &) {
        return 0;
    } catch (const StreamReadError &) {
        return 0;
    }
    platform::MemoryStream unchanged;
    bitmap.saveToStream(unchanged);
    if (bitmap.width() <= 512 && bitmap.height() <= 512) {
        volatile std::uint32_t sum = 0;
        for (int y = -1; y <= bitmap.height(); ++y)
            for (int x = -1; x <= bitmap.width(); ++x)
                sum = sum + bitmap.pixel(x, y);
        process::processColors(bitmap, int(size % 5) + 19, 0x00FFFFFF, 0);
        platform::MemoryStream out;
        bitmap.saveToStream(out);
        platform::MemoryStream back(out.data());
        picture::Bitmap again;
        again.loadFromStream(back);
    }
    return 0;
}
