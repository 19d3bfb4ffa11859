#include "ui/help/application_help.h"

#include "ui/help/help_system.h"
#include "ui/help/html_help_bridge.h"

#include <QFileInfo>

namespace tovi::help {

QString helpFileBesideExecutable(const QString &helpFile)
{
    return QString::fromStdString(executableFolder()) + QLatin1Char('/') + QFileInfo(helpFile).fileName();
}

void HelpOpenExecute(bool picking, const QString &helpFile)
{
    if (picking)
        helpSystem().HelpByContext(kHelpContextColorPick, helpFile);
    else
        helpSystem().HelpByKeyword(QString(), helpFile);
}

bool ApplicationEvents1Help(std::uint16_t command, std::uintptr_t data, bool &callHelp, const QString &helpFile)
{
    callHelp = false;
    switch (command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
        // A pop-up request opens the normal help window.
        helpSystem().HelpByContext(int(std::uint32_t(data)), helpFile);
        break;
    case HELP_SETPOPUP_POS:
        break;
    case HELP_COMMAND: {
        // A request without text would point nowhere; it asks for an empty topic.
        const char *text = reinterpret_cast<const char *>(data);
        helpSystem().HelpByTopic(text ? QString::fromUtf8(text) : QString(), helpFile);
        break;
    }
    default:
        helpSystem().HelpByContext(kHelpContextDefault, helpFile);
        break;
    }
    return true;
}

}  // namespace tovi::help
