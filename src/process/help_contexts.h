#pragma once
// The help context numbers: what ties each command to its page of the help
// file (the [MAP] section of help/ToviXP.hhp). Plain numbers with no Qt, since
// the table of processing modes names the pages of its commands.

namespace tovi::help {

// The help context numbers of the program's commands (menu titles carry 0).
enum HelpContextNumber : int {
    kHelpContextNone = 0,
    kHelpContextDefault = 1000,         // requests of a kind the handler doesn't know
    kHelpContextOpenPicture = 1101,     // OpenPicture1
    kHelpContextSavePicture = 1102,     // SavePicture1
    kHelpContextSelectPictures = 1103,  // SelectPictures
    kHelpContextFileExit = 1104,        // FileExit1
    kHelpContextEditPaste = 1201,       // EditPaste1
    kHelpContextEditCopy = 1202,        // EditCopy1
    kHelpContextColorPick = 1203,       // ColorPick1, ColorPick2; F1 while picking
    kHelpContextColorSelect = 1204,     // ColorSelectAction1, ColorSelectAction2
    kHelpContextColorChange = 1205,     // ColorChange
    kHelpContextColorInv = 1206,        // ColorInv
    kHelpContextColorGray = 1207,       // ColorGray
    kHelpContextColorInvGray = 1208,    // ColorInvGray
    kHelpContextMode = 1209,            // modeChange, modeInv, modeGray, modeInvGray, ColorProcRun
    kHelpContextEditUndo = 1210,        // EditUndo1
    kHelpContextEditRedo = 1211,        // EditRedo1
    kHelpContextTolerance = 1212,       // ColorTolerance and its dialog
    kHelpContextGrayFormula = 1213,     // GrayFormulaMean, GrayFormulaRec601, GrayFormulaRec709
    kHelpContextZoom = 1401,            // ViewZoomIn, ViewZoomOut, ViewActualSize, ViewFitToWindow
    kHelpContextHelpOpen = 1301,        // HelpOpen
    kHelpContextHelpAbout = 1302,       // HelpAbout1
};

}  // namespace tovi::help
