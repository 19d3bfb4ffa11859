#pragma once
// The processing modes: one row per mode, read by the colour operation, the
// batch result lines, tovi-batch's --mode option and its usage text, the main
// window's actions and menus, and their help contexts. A new mode is a row
// here, its pixel rule (color_ops.cpp), its glyph (ui/main/image_list.cpp)
// and its help page.

#include <array>
#include <cstddef>
#include <string_view>

#include "process/help_contexts.h"

namespace tovi::process {

enum Mode : int {
    kModeSwap = 19,        // exchange colour 1 and colour 2
    kModeInvert = 20,      // invert every channel
    kModeGray = 21,        // plain mean of the three channels
    kModeInvertGray = 22,  // inverted mean
};

struct ModeInfo {
    int code;
    std::string_view commandName;  // tovi-batch --mode
    std::string_view resultName;   // batch result lines ("ModeName")
    // Index of the mode's glyph in the main window's image list; the run
    // button shows the current mode by it.
    int glyph;

    // The action that makes this the current mode (edit menu's "モード変更"
    // and the run button's drop-down).
    std::string_view modeAction;
    std::string_view modeCaption;
    std::string_view modeHint;

    // The command that processes the shown picture in this mode at once.
    std::string_view runAction;
    std::string_view runCaption;
    std::string_view runHint;
    int runHelpContext;

    // Both actions declare the keyword help type (it plays no part in help
    // requests, which go by context number).
    bool keywordHelp;
};

inline constexpr std::array<ModeInfo, 4> kModes{{
    {kModeSwap, "swap", "色交換モード", 19,  //
     "modeChange", "色交換モード", "交換モード|画像の色1と色2を交換する",  //
     "ColorChange", "色交換実行", "交換実行|画像の色1と色2を交換する", help::kHelpContextColorChange, false},
    {kModeInvert, "invert", "色反転モード", 20,  //
     "modeInv", "色反転モード", "反転モード|画像の色域を反転する",  //
     "ColorInv", "色反転実行", "反転実行|画像の色域を反転する", help::kHelpContextColorInv, true},
    {kModeGray, "gray", "グレースケール化", 21,  //
     "modeGray", "グレースケールモード", "グレースケールモード|画像をグレースケール|グレースケール(モノトーン)化する",
     "ColorGray", "グレースケール実行", "画像をグレースケール|グレースケール(モノトーン)化する",
     help::kHelpContextColorGray, true},
    {kModeInvertGray, "invert-gray", "反転グレースケール化", 22,  //
     "modeInvGray", "反転＆グレースケール", "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する",
     "ColorInvGray", "反転＆グレースケール", "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する",
     help::kHelpContextColorInvGray, true},
}};

// The mode the window and tovi-batch start in.
inline constexpr int kDefaultMode = kModeSwap;

// The row of a mode code; nullptr for any other code.
constexpr const ModeInfo *findMode(int code)
{
    for (const ModeInfo &mode : kModes) {
        if (mode.code == code)
            return &mode;
    }
    return nullptr;
}

// The row whose command-line name is `name`; nullptr when none is.
constexpr const ModeInfo *findModeByCommandName(std::string_view name)
{
    for (const ModeInfo &mode : kModes) {
        if (mode.commandName == name)
            return &mode;
    }
    return nullptr;
}

// A code no mode has, for callers that must name "any other code": one past
// the largest.
constexpr int unusedModeCode()
{
    int largest = 0;
    for (const ModeInfo &mode : kModes)
        largest = mode.code > largest ? mode.code : largest;
    return largest + 1;
}

// Every mode code, then one no mode has: what loops over "each mode, and any
// other code" run over.
constexpr std::array<int, kModes.size() + 1> everyModeCodeAndAnother()
{
    std::array<int, kModes.size() + 1> codes{};
    for (std::size_t i = 0; i < kModes.size(); ++i)
        codes[i] = kModes[i].code;
    codes.back() = unusedModeCode();
    return codes;
}

// The largest glyph index a mode shows.
constexpr int largestModeGlyph()
{
    int largest = 0;
    for (const ModeInfo &mode : kModes)
        largest = mode.glyph > largest ? mode.glyph : largest;
    return largest;
}

// How the grayscale modes weigh the three channels. The plain mean is the
// described rule and the default; the other two weigh by perceived
// brightness (0.299 R + 0.587 G + 0.114 B and 0.2126 R + 0.7152 G + 0.0722 B,
// rounded to the nearest value).
enum class GrayFormula { Mean, Rec601, Rec709 };

struct GrayFormulaInfo {
    GrayFormula formula;
    std::string_view commandName;  // tovi-batch --gray
    // Integer weights of red, green and blue and their sum; Mean drops the
    // remainder, the others round to the nearest value.
    unsigned red, green, blue, total;
    // The window's radio entry under "グレースケールの計算(&C)".
    std::string_view action;
    std::string_view caption;
    std::string_view hint;
};

inline constexpr std::array<GrayFormulaInfo, 3> kGrayFormulas{{
    {GrayFormula::Mean, "mean", 1, 1, 1, 3, "GrayFormulaMean", "単純平均(&M)",
     "単純平均|赤・緑・青の単純な平均を灰色の明るさにする"},
    {GrayFormula::Rec601, "rec601", 299, 587, 114, 1000, "GrayFormulaRec601", "BT.601 の輝度(&6)",
     "BT.601|0.299 R + 0.587 G + 0.114 B (見た目の明るさ) を灰色の明るさにする"},
    {GrayFormula::Rec709, "rec709", 2126, 7152, 722, 10000, "GrayFormulaRec709", "BT.709 の輝度(&7)",
     "BT.709|0.2126 R + 0.7152 G + 0.0722 B (sRGB の明るさ) を灰色の明るさにする"},
}};

inline constexpr GrayFormula kDefaultGrayFormula = GrayFormula::Mean;

constexpr const GrayFormulaInfo &grayFormulaInfo(GrayFormula formula)
{
    for (const GrayFormulaInfo &info : kGrayFormulas) {
        if (info.formula == formula)
            return info;
    }
    return kGrayFormulas[0];
}

// The row whose command-line name is `name`; nullptr when none is.
constexpr const GrayFormulaInfo *findGrayFormulaByCommandName(std::string_view name)
{
    for (const GrayFormulaInfo &info : kGrayFormulas) {
        if (info.commandName == name)
            return &info;
    }
    return nullptr;
}

// The swap's tolerance: 0 (the default) swaps exactly the two colours.
inline constexpr int kMaxTolerance = 255;

}  // namespace tovi::process
