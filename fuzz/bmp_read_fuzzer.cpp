// Reads arbitrary bytes as a BMP; what reads is processed, read for every
// pixel and written back, so the whole path of a file through the program is
// covered.

#include <cstddef>
#include <cstdint>

#include "bmp_read_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tovi::fuzz::readProcessWrite(data, size);
    return 0;
}
