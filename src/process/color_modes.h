#pragma once
// The processing modes: one row per mode, read by the colour operation, the
// batch result lines, tovi-batch's --mode option and its usage text, the main
// window's actions and menus, and their help contexts. A new mode is a row
// here, its pixel rule (color_ops.cpp), its glyph (ui/main/image_list.cpp)
// and its help page.

#include <array>
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

}  // namespace tovi::process
