#pragma once
// The calling interface of the help engine module: the two entry points the
// program looks up by name, the six commands it sends and the record of the
// keyword lookup. The program's bridge and the engine both include this file;
// nothing else of the engine is visible to the program.
//
// The values are those of the published HTML Help interface, so the callers
// read as the help commands they are. Texts passed to "HtmlHelpA" are UTF-8
// (our system code page), those passed to "HtmlHelpW" UTF-16.

#include <cstdint>

namespace tovi::htmlhelp {

// A window handle as the commands carry it; 0 means "no window".
using HelpWindowHandle = std::uintptr_t;

// One data word: a number, or the address of a record or of the cookie.
using HelpData = std::uintptr_t;

enum HtmlHelpCommand : unsigned {
    HH_DISPLAY_TOPIC = 0,   // file, or file + "::/" + page; data 0
    HH_HELP_CONTEXT = 15,   // file; data = context number
    HH_CLOSE_ALL = 18,      // no file; data 0
    HH_ALINK_LOOKUP = 19,   // file; data = address of an HH_AKLINK
    HH_INITIALIZE = 28,     // no file; data = address of a 32-bit cookie
    HH_UNINITIALIZE = 29,   // no file; data = the cookie
};

// The keyword lookup record. Its first field holds its own size; the fields
// between are pointer-sized here, so the size is sizeof(HH_AKLINK) and not
// the 32 bytes of a 32-bit build.
struct HH_AKLINK {
    int cbStruct;
    int fReserved;
    const char *pszKeywords;  // never null; several keywords separated by ';'
    const char *pszUrl;
    const char *pszMsgText;
    const char *pszMsgTitle;
    const char *pszWindow;
    int fIndexOnFail;
};

struct HH_AKLINKW {
    int cbStruct;
    int fReserved;
    const char16_t *pszKeywords;
    const char16_t *pszUrl;
    const char16_t *pszMsgText;
    const char16_t *pszMsgTitle;
    const char16_t *pszWindow;
    int fIndexOnFail;
};

// The result is the help window's handle, or 0 when no window was shown.
using HtmlHelpAProc = std::uintptr_t (*)(HelpWindowHandle caller, const char *file,
                                         unsigned command, HelpData data);
using HtmlHelpWProc = std::uintptr_t (*)(HelpWindowHandle caller, const char16_t *file,
                                         unsigned command, HelpData data);

inline constexpr char kHtmlHelpAName[] = "HtmlHelpA";
inline constexpr char kHtmlHelpWName[] = "HtmlHelpW";

// The engine module's file name. The build sets it from the engine target's
// output name (src/help_engine/CMakeLists.txt), the only place it is chosen.
#ifdef TOVI_HELP_ENGINE_FILE
inline constexpr char kHelpEngineModuleName[] = TOVI_HELP_ENGINE_FILE;
#endif

}  // namespace tovi::htmlhelp
