#include "ui/main/main_form.h"

#include "ui/help/help_requests.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/stream.h"
#include "platform/system_colors.h"
#include "ui/common/palette_colors.h"
#include "ui/common/window_frames.h"
#include "ui/main/application.h"
#include "ui/main/file_names.h"

namespace tovi::ui {

namespace {

// Window and control geometry, in pixels at 96 dots per inch.
constexpr QPoint kInitialPosition(197, 111);
constexpr QSize kInitialSize(504, 561);
constexpr QSize kSmallestSize(160, 80);
constexpr int kToolBarHeight = 33;
constexpr int kToolBarBorder = 1;
constexpr int kToolBarIndent = 5;
constexpr int kColorBarHeight = 24;
constexpr QRect kColorPanel1Bounds(48, 0, 33, 17);
constexpr QRect kColorPanel2Bounds(80, 0, 33, 17);
constexpr int kStatusBarHeight = 19;
constexpr int kFontPixelHeight = 13;

const char *const kSystemFontName = "システム";
const char *const kInitialFormatText = "ColorFormat";

// Menus in which greyed entries can be highlighted too, so that their hints
// show and help can be asked for them.
class TMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == QStyle::SH_Menu_AllowActiveAndDisabled)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Sees the application's events before their receivers do.
class EventWatch : public QObject {
public:
    EventWatch(QObject *parent, std::function<void(QObject *, QEvent *)> seen) : QObject(parent), m_seen(std::move(seen))
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        m_seen(watched, event);
        return false;
    }

private:
    std::function<void(QObject *, QEvent *)> m_seen;
};

}  // namespace

TMainForm::TMainForm(const QStringList &arguments, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    // The window asks for the context-help title-bar button too; help
    // requests take it into account even where no such button shows.
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    QFont font(QString::fromUtf8(kSystemFontName));
    font.setPixelSize(kFontPixelHeight);
    setFont(font);
    move(kInitialPosition);
    resize(kInitialSize);
    setMinimumSize(kSmallestSize);
    // The sizes are outer sizes, frame included; the frame is there only once
    // the window manager has put it round the window.
    whenFramed(this, [this](const QMargins &frame) { fitOuterSize(frame); });
    m_customColors.fill(QColor(Qt::white));

    createActions();
    createMenus();

    auto *client = new QWidget(this);
    auto *column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    createToolBar();
    createColorBar();
    createView();
    column->addWidget(ToolBar1);
    column->addWidget(Panel1);
    column->addWidget(ScrollBox1, 1);
    setCentralWidget(client);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setFixedHeight(kStatusBarHeight);
    setStatusBar(StatusBar);
    SettingsLabel = new QLabel(StatusBar);
    SettingsLabel->setObjectName(QStringLiteral("SettingsLabel"));
    StatusBar->addPermanentWidget(SettingsLabel);
    SettingsLabel->hide();
    watchMenus();

    FormCreate(arguments);
}

TMainForm::~TMainForm()
{
    FormDestroy();
}

void TMainForm::createMenus()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setNativeMenuBar(false);
    setMenuBar(MainMenu1);

    auto *menuStyle = new TMenuStyle;
    menuStyle->setParent(this);
    const auto addMenu = [=, this](QMenu *parentMenu, const char *name, const QString &caption, const QString &hint) {
        QMenu *menu = parentMenu ? parentMenu->addMenu(caption) : MainMenu1->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        menu->setStyle(menuStyle);
        menu->menuAction()->setStatusTip(hint);
        return menu;
    };

    FileMenu = addMenu(nullptr, "FileMenu", QStringLiteral("ファイル(&F)"), QStringLiteral("ファイルに関連するコマンド"));
    FileMenu->addAction(OpenPicture1);
    FileMenu->addAction(SavePicture1);
    FileMenu->addSeparator();
    FileMenu->addAction(SelectPictures);
    FileMenu->addSeparator();
    FileMenu->addAction(FileExit1);

    EditMenu = addMenu(nullptr, "EditMenu", QStringLiteral("編集(&E)"), QStringLiteral("編集コマンド"));
    EditMenu->addAction(EditUndo1);
    EditMenu->addAction(EditRedo1);
    EditMenu->addSeparator();
    EditMenu->addAction(EditPaste1);
    EditMenu->addAction(EditCopy1);
    EditMenu->addSeparator();
    EditMenu->addAction(ColorPick1);
    EditMenu->addAction(ColorPick2);
    EditMenu->addAction(ColorSelectAction1);
    EditMenu->addAction(ColorSelectAction2);
    EditMenu->addSeparator();
    for (const process::ModeInfo &mode : process::kModes)
        EditMenu->addAction(runAction(mode.code));
    EditMenu->addSeparator();
    ModeChangeMenu = addMenu(EditMenu, "ModeChangeMenu", QStringLiteral("モード変更"), QString());
    for (const process::ModeInfo &mode : process::kModes)
        ModeChangeMenu->addAction(modeAction(mode.code));

    createSettingsMenus(addMenu);

    HelpMenu = addMenu(nullptr, "HelpMenu", QStringLiteral("ヘルプ(&H)"), QStringLiteral("ヘルプトピック"));
    HelpMenu->addAction(HelpOpen);
    HelpMenu->addAction(HelpAbout1);

    ModeMenu = new QMenu(this);
    ModeMenu->setObjectName(QStringLiteral("ModeMenu"));
    ModeMenu->setStyle(menuStyle);
    for (const process::ModeInfo &mode : process::kModes)
        ModeMenu->addAction(modeAction(mode.code));
}

// A menu bar walked with the keyboard takes the keyboard focus and gives it
// back when the walk ends. A walk ended by another window coming to the front
// (a help page asked for with F1) leaves the bar holding the focus with no
// title highlighted, and from then on the bar eats every Escape. The status
// bar, too, keeps the hint of the last menu entry until the pointer enters a
// control that has a hint of its own.
void TMainForm::watchMenus()
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (now == MainMenu1 && old && old->window() == this && !inMenuBar(old))
            m_focusBeforeMenu = old;
    });
    const auto watch = [this](QMenu *menu) {
        connect(menu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, [this] { menusClosed(); }); });
    };
    for (QMenu *menu : MainMenu1->findChildren<QMenu *>())
        watch(menu);
    watch(ModeMenu);
    qApp->installEventFilter(new EventWatch(this, [this](QObject *watched, QEvent *event) {
        if (QApplication::activePopupWidget() || !watched->isWidgetType())
            return;
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() != this)
            return;
        switch (event->type()) {
        case QEvent::WindowActivate:
            // After the focus has come back to the window.
            QTimer::singleShot(0, this, [this] { menusClosed(); });
            break;
        case QEvent::MouseButtonPress:
            // A click outside the bar ends its keyboard walk.
            if (!inMenuBar(widget) && MainMenu1->hasFocus())
                releaseMenuBarFocus();
            break;
        case QEvent::Enter: {
            // Entering the window over the menu bar leaves the bar its hints.
            const QWidget *under = QApplication::widgetAt(QCursor::pos());
            if (!inMenuBar(widget) && !(under && inMenuBar(under)))
                showHintAt(widget);
            break;
        }
        default:
            break;
        }
    }));
}

bool TMainForm::inMenuBar(const QWidget *widget) const
{
    return widget == MainMenu1 || MainMenu1->isAncestorOf(widget);
}

void TMainForm::menusClosed()
{
    if (QApplication::activePopupWidget() || MainMenu1->activeAction())
        return;
    if (MainMenu1->hasFocus())
        releaseMenuBarFocus();
    if (!isActiveWindow())
        return;
    QWidget *under = QApplication::widgetAt(QCursor::pos());
    if (!under || !inMenuBar(under))
        showHintAt(under && under->window() == this ? under : nullptr);
}

void TMainForm::releaseMenuBarFocus()
{
    QWidget *back = m_focusBeforeMenu;
    m_focusBeforeMenu = nullptr;
    // Losing the focus ends the bar's keyboard walk.
    if (back && back->window() == this && back->isVisible() && back->isEnabled())
        back->setFocus(Qt::OtherFocusReason);
    else
        MainMenu1->clearFocus();
}

void TMainForm::showHintAt(QWidget *widget)
{
    // The long hint of the control, or of the nearest container with one.
    QString hint;
    for (QWidget *w = widget; w && hint.isEmpty(); w = w->isWindow() ? nullptr : w->parentWidget())
        hint = w->statusTip();
    if (hint.isEmpty())
        StatusBar->clearMessage();
    else
        StatusBar->showMessage(hint);
}

void TMainForm::createToolBar()
{
    ToolBar1 = new TToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->onCustomDraw = [this](QPainter &canvas, const QRect &exposed) { ToolBar1CustomDraw(canvas, exposed); };
    auto *row = new QHBoxLayout(ToolBar1);
    row->setContentsMargins(kToolBarBorder + kToolBarIndent, kToolBarBorder, kToolBarBorder, kToolBarBorder);
    row->setSpacing(0);

    const auto button = [&](const char *name, TAction *action) {
        auto *b = new TToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setAction(action);
        row->addWidget(b);
        return b;
    };
    const auto separator = [&](const char *name) {
        auto *s = new TToolSeparator(ToolBar1);
        s->setObjectName(QString::fromLatin1(name));
        row->addWidget(s);
        return s;
    };

    ToolButton1 = button("ToolButton1", OpenPicture1);
    ToolButton9 = button("ToolButton9", EditPaste1);
    ToolButton9->setOwnHint(QStringLiteral("貼り付け|クリップボードの画像を貼り付ける"));
    ToolButton3 = separator("ToolButton3");
    ToolButton4 = button("ToolButton4", ColorPick1);
    ToolButton5 = button("ToolButton5", ColorPick2);
    ToolButton6 = separator("ToolButton6");
    ToolButton7 = button("ToolButton7", ColorProcRun);
    ToolButton7->setPopupMode(QToolButton::MenuButtonPopup);
    ToolButton7->setMenu(ModeMenu);
    ToolButton8 = separator("ToolButton8");
    ToolButton2 = button("ToolButton2", SavePicture1);
    ToolButton10 = button("ToolButton10", EditCopy1);
    ToolButton10->setOwnHint(QStringLiteral("コピー|画像をクリップボードにコピー"));
    row->addStretch(1);
}

void TMainForm::createColorBar()
{
    Panel1 = new TColorBar(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(kColorBarHeight);

    ColorPanel1 = new TColorPanel(Panel1);
    ColorPanel1->setObjectName(QStringLiteral("ColorPanel1"));
    ColorPanel1->setGeometry(kColorPanel1Bounds);
    ColorPanel1->setColor(platform::rgb(255, 255, 255));
    ColorPanel1->onClick = [this] { runGuarded([this] { ColorSelectAction1Execute(); }); };

    ColorPanel2 = new TColorPanel(Panel1);
    ColorPanel2->setObjectName(QStringLiteral("ColorPanel2"));
    ColorPanel2->setGeometry(kColorPanel2Bounds);
    ColorPanel2->setColor(platform::rgb(0, 0, 0));
    ColorPanel2->onClick = [this] { runGuarded([this] { ColorSelectAction2Execute(); }); };

    StaticText1 = new TStaticText(Panel1);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    Panel1->dockedRight = StaticText1;
    StaticText1->onResize = [this] { Panel1->layoutDocked(); };
    StaticText1->setLook(QString::fromUtf8(kInitialFormatText),
                         toQColor(platform::systemColorValue(platform::kColorBtnFace)),
                         toQColor(platform::systemColorValue(platform::kColorWindowText)));
}

void TMainForm::createView()
{
    ScrollBox1 = new TScrollBox(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    PaintBox1 = ScrollBox1->paintBox();
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->onPaint = [this](QPainter &canvas, const QRect &exposed) { PaintBox1Paint(canvas, exposed); };
    Image1 = ScrollBox1->image();
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->move(5, 5);
    Image1->onMouseDown = [this](QMouseEvent *e) { Image1MouseDown(e->button(), e->position().toPoint()); };
    Image1->onMouseMove = [this](QMouseEvent *e) { Image1MouseMove(e->position().toPoint()); };
    Image1->onMouseUp = [this](QMouseEvent *e) { Image1MouseUp(e->button(), e->position().toPoint()); };
    ScrollBox1->onZoomWheel = [this](int steps, const QPoint &at) { runGuarded([&] { zoomBy(steps, at); }); };
}

void TMainForm::FormCreate(const QStringList &arguments)
{
    setWindowIcon(QApplication::windowIcon());
    Picking = false;
    // Every help request of the program's windows comes to one handler.
    help::installHelpRequests([this](std::uint16_t command, std::uintptr_t data, bool &callHelp) {
        return ApplicationEvents1Help(command, data, callHelp);
    });
    // Files dropped from the desktop arrive as drop events (main_form_files.cpp).
    setAcceptDrops(true);

    if (!arguments.isEmpty() && isBmpFileName(arguments.first())) {
        setOpenDialogFileName(QString::fromStdString(platform::fullPathName(arguments.first().toStdString())));
        runGuarded([this] { OpenPicture1Accept(); });
    }

    // Every widget paints into an off-screen buffer and reaches the screen in
    // one step, so the full-size gradients of the view and the tool bar never
    // flicker; nothing needs switching on.

    const QString helpFile = fileNamePart(applicationHelpFile().isEmpty() ? QString::fromUtf8(kHelpFileName)
                                                                          : applicationHelpFile());
    setApplicationHelpFile(QApplication::applicationDirPath() + QLatin1Char('/') + helpFile);
}

void TMainForm::SetFileName(const QString &name)
{
    FileName = name;
    m_saveDialogFileName = name;
    m_openDialogFileName = name;
    const QString title = QString::fromUtf8(kApplicationTitle);
    setWindowTitle(name.isEmpty() ? title : title + QStringLiteral(" -[") + fileNamePart(name) + QLatin1Char(']'));
    setApplicationTitle(windowTitle());
}

void TMainForm::FileExit1Execute()
{
    close();
}

void TMainForm::fitOuterSize(const QMargins &frame)
{
    const QSize margins(frame.left() + frame.right(), frame.top() + frame.bottom());
    setMinimumSize(kSmallestSize - margins);
    resize(kInitialSize - margins);
    move(kInitialPosition);
}

void TMainForm::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), toQColor(platform::systemColorValue(platform::kColorAppWorkspace)));
}

void TMainForm::mouseReleaseEvent(QMouseEvent *event)
{
    // Only a release on the window's own surface, outside every control.
    if (!childAt(event->position().toPoint()))
        runGuarded([&] { FormMouseUp(event->button()); });
    QMainWindow::mouseReleaseEvent(event);
}

}  // namespace tovi::ui
