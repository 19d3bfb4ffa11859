#include "picture/pixel_format.h"

#include <array>

namespace tovi::picture {

std::string pixelFormatName(std::uint8_t ordinal)
{
    static const std::array<const char *, 10> kNames = {
        "デバイス依存フォーマット",
        "1bit : モノクロ ビットマップ",
        "4bit : 16色 ビットマップ",
        "8bit : 256色 ビットマップ",
        "15bit : TrueColor(RGB Comp)ビットマップ",
        "16bit : TrueColor(BitField)ビットマップ",
        "24bit : TrueColorビットマップ",
        "32bit : TrueColor(RGB Comp)ビットマップ",
        "Custom : カスタムフォーマットビットマップ",
        "Unknwon : 未サポートフォーマット",
    };
    return kNames[ordinal < 9 ? ordinal : 9];
}

}  // namespace tovi::picture
