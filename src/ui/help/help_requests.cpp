#include "ui/help/help_requests.h"

#include "ui/help/application_help.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

namespace tovi::help {

namespace {

constexpr char kHelpContextProperty[] = "toviHelpContext";
constexpr char kHelpKeywordProperty[] = "toviHelpKeyword";
constexpr char kHelpTypeProperty[] = "toviHelpType";

enum class HelpType { Context, Keyword };

HelpType helpTypeOf(const QObject *object)
{
    return object && object->property(kHelpTypeProperty).toString() == QLatin1String("keyword")
        ? HelpType::Keyword
        : HelpType::Context;
}

ApplicationHelpHandler &handlerSlot()
{
    static ApplicationHelpHandler handler;
    return handler;
}

// x in the low and y in the high 16 bits, as the position request carries it.
std::uintptr_t packPosition(QPoint position)
{
    return std::uintptr_t(std::uint16_t(position.x())) | (std::uintptr_t(std::uint16_t(position.y())) << 16);
}

// Whether the window asks for the title-bar help button.
bool asksForHelpButton(const QWidget *window)
{
    return window && window->windowFlags().testFlag(Qt::WindowContextHelpButtonHint);
}

// The menu that holds `menu` as a sub-menu, if any.
QMenu *enclosingMenu(const QMenu *menu)
{
    for (QObject *object : menu->menuAction()->associatedObjects()) {
        if (auto *outer = qobject_cast<QMenu *>(object); outer && outer != menu)
            return outer;
    }
    return nullptr;
}

QMenuBar *menuBarOf(const QMenu *menu)
{
    for (const QMenu *level = menu; level; level = enclosingMenu(level)) {
        for (QObject *object : level->menuAction()->associatedObjects()) {
            if (auto *bar = qobject_cast<QMenuBar *>(object))
                return bar;
        }
    }
    return nullptr;
}

// The entry's own number, else that of the nearest enclosing entry that has
// one; without a highlighted entry the search starts at the menu itself.
int menuContext(const QMenu *menu, const QAction *entry)
{
    if (entry) {
        if (const int number = helpContext(entry))
            return number;
    }
    for (const QMenu *level = menu; level; level = enclosingMenu(level)) {
        if (const int number = helpContext(level->menuAction()))
            return number;
    }
    return 0;
}

bool hasHelp(const QWidget *widget)
{
    return helpTypeOf(widget) == HelpType::Keyword ? !helpKeyword(widget).isEmpty() : helpContext(widget) != 0;
}

// A context number found for a window's menu bar or one of its controls.
void raiseContextRequest(const QWidget *window, int number, QPoint origin)
{
    if (asksForHelpButton(window)) {
        applicationHelpCommand(HELP_SETPOPUP_POS, packPosition(origin));
        applicationHelpCommand(HELP_CONTEXTPOPUP, std::uint32_t(number));
    } else {
        applicationHelpCommand(HELP_CONTEXT, std::uint32_t(number));
    }
}

void menuHelpRequest(QMenu *menu)
{
    const int entryNumber = menuContext(menu, menu->activeAction());
    // A window's own pop-up menu would be looked at next; our windows have none.
    if (QMenuBar *bar = menuBarOf(menu)) {
        QWidget *window = bar->window();
        raiseContextRequest(window, entryNumber, window->mapToGlobal(QPoint(0, 0)));
        return;
    }
    // A pop-up menu: no position request.
    QWidget *active = QApplication::activeWindow();
    if (!active && menu->parentWidget())
        active = menu->parentWidget()->window();
    const int number = entryNumber != 0 ? entryNumber : helpContext(active);
    applicationHelpCommand(asksForHelpButton(active) ? HELP_CONTEXTPOPUP : HELP_CONTEXT, std::uint32_t(number));
}

// A highlighted title of the menu bar, no menu open.
void menuTitleHelpRequest(QMenuBar *bar)
{
    QWidget *window = bar->window();
    raiseContextRequest(window, helpContext(bar->activeAction()), window->mapToGlobal(QPoint(0, 0)));
}

void controlHelpRequest(QWidget *control)
{
    for (QWidget *widget = control; widget; widget = widget->isWindow() ? nullptr : widget->parentWidget()) {
        if (!hasHelp(widget))
            continue;
        if (helpTypeOf(widget) == HelpType::Keyword) {
            const QByteArray keyword = helpKeyword(widget).toUtf8();
            applicationHelpCommand(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(keyword.constData()));
        } else {
            raiseContextRequest(widget->window(), helpContext(widget), widget->mapToGlobal(QPoint(0, 0)));
        }
        return;
    }
}

bool isHelpKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_F1 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

class HelpRequestFilter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
            return menuKey(watched, static_cast<QKeyEvent *>(event));
        case QEvent::WhatsThis:
            if (auto *widget = qobject_cast<QWidget *>(watched)) {
                controlHelpRequest(widget);
                return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    static bool menuKey(QObject *watched, QKeyEvent *event)
    {
        if (!isHelpKey(event))
            return false;
        // Keys of an open menu go to the menu window itself (the deepest one
        // open), or to a widget inside it; a menu bar gets them while its
        // titles are walked with the keyboard.
        auto *widget = qobject_cast<QWidget *>(watched);
        auto *menu = widget ? qobject_cast<QMenu *>(widget->window()) : nullptr;
        auto *bar = qobject_cast<QMenuBar *>(watched);
        if (bar && !bar->activeAction())
            bar = nullptr;
        if (!menu && !bar)
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            // Claim F1 for the menu, so the help command's shortcut stays quiet.
            event->accept();
            return true;
        }
        if (menu)
            menuHelpRequest(menu);
        else
            menuTitleHelpRequest(bar);
        return true;
    }
};

QPointer<HelpRequestFilter> &filterSlot()
{
    static QPointer<HelpRequestFilter> filter;
    return filter;
}

}  // namespace

void installHelpRequests(ApplicationHelpHandler handler)
{
    handlerSlot() = std::move(handler);
    if (filterSlot() || !QCoreApplication::instance())
        return;
    filterSlot() = new HelpRequestFilter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filterSlot());
}

void removeHelpRequests()
{
    delete filterSlot().data();
    handlerSlot() = nullptr;
}

bool applicationHelpCommand(std::uint16_t command, std::uintptr_t data)
{
    // A copy: the handler may replace itself.
    const ApplicationHelpHandler handler = handlerSlot();
    if (!handler)
        return false;
    bool callHelp = true;
    return handler(command, data, callHelp);
}

void setHelpContext(QObject *object, int contextNumber)
{
    object->setProperty(kHelpTypeProperty, QStringLiteral("context"));
    object->setProperty(kHelpContextProperty, contextNumber);
}

int helpContext(const QObject *object)
{
    return object ? object->property(kHelpContextProperty).toInt() : 0;
}

void setHelpKeyword(QObject *object, const QString &keyword)
{
    object->setProperty(kHelpTypeProperty, QStringLiteral("keyword"));
    object->setProperty(kHelpKeywordProperty, keyword);
}

QString helpKeyword(const QObject *object)
{
    return object ? object->property(kHelpKeywordProperty).toString() : QString();
}

}  // namespace tovi::help
