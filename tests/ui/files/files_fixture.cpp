#include "files_fixture.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "ui/main/application.h"

namespace tovi::test {

WindowWatch::WindowWatch(QWidget *window) : QObject(window)
{
    window->installEventFilter(this);
}

bool WindowWatch::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::ZOrderChange)
        ++raised;
    else if (event->type() == QEvent::WindowActivate)
        ++activated;
    return false;
}

namespace {
constexpr int kWatchdogTickMs = 250;
constexpr int kWatchdogPatienceTicks = 12;  // 3 s
}  // namespace

void FilesTest::SetUp()
{
    MainFormTest::SetUp();
    m_watchdog = std::make_unique<QTimer>();
    m_watchdog->setInterval(kWatchdogTickMs);
    QObject::connect(m_watchdog.get(), &QTimer::timeout, [this] { watch(); });
    m_watchdog->start();
}

void FilesTest::TearDown()
{
    m_watchdog.reset();
    MainFormTest::TearDown();
}

void FilesTest::watch()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal != m_waiting) {
        m_waiting = modal;
        m_waitingTicks = 0;
        return;
    }
    if (!modal || ++m_waitingTicks < kWatchdogPatienceTicks)
        return;
    ADD_FAILURE() << "a window nobody answered: " << modal->metaObject()->className() << " \""
                  << modal->windowTitle().toStdString() << '"';
    m_waitingTicks = 0;
    modal->close();
}

void FilesTest::drop(const QStringList &fileNames)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &name : fileNames)
        urls.append(QUrl::fromLocalFile(name));
    data.setUrls(urls);
    const QPoint centre = m_form->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_form.get(), &enter);
    ASSERT_TRUE(enter.isAccepted()) << "the window refuses files dragged over it";
    QDropEvent dropped(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_form.get(), &dropped);
    EXPECT_TRUE(dropped.isAccepted());
    settle();
}

QString FilesTest::captionFor(const QString &fileNamePart)
{
    return QStringLiteral("Tovi for XP -[") + fileNamePart + QLatin1Char(']');
}

QString FilesTest::formatLabel() const
{
    return m_form->StaticText1->text();
}

ColorRef FilesTest::pictureColor(int x, int y) const
{
    const picture::Bitmap *bitmap = m_form->Image1->bitmap();
    return bitmap ? bitmap->pixel(x, y) : platform::kInvalidColor;
}

ColorRef FilesTest::shownColor(int x, int y) const
{
    return colorAt(m_form->Image1->grab().toImage(), x, y);
}

QLineEdit *nameBox(QWidget *dialog)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

void typeInto(QWidget *dialog, const QString &name)
{
    QLineEdit *box = nameBox(dialog);
    ASSERT_NE(box, nullptr);
    // Typed into the focused box, as a user types: the files selected in the
    // list give way to the typed name. The offscreen platform activates no
    // window by itself.
    QApplication::setActiveWindow(dialog);
    box->setFocus();
    EXPECT_TRUE(box->hasFocus());
    box->setText(name);
}

ModalDriver::Step FilesTest::typeName(ui::PictureDialog::Kind kind, const QString &name)
{
    return [kind, name](QWidget *window) {
        auto *dialog = dynamic_cast<ui::PictureDialog *>(window);
        ASSERT_NE(dialog, nullptr) << "expected a picture dialog";
        EXPECT_EQ(dialog->kind(), kind);
        QLineEdit *box = nameBox(dialog);
        ASSERT_NE(box, nullptr);
        typeInto(dialog, name);
        // Pressed once this step has returned, so that a window it opens
        // (the overwrite question) is answered by the next step.
        QTimer::singleShot(0, box, [box] { QTest::keyClick(box, Qt::Key_Return); });
    };
}

ModalDriver::Step FilesTest::messageBox(QString *text, Qt::Key key)
{
    return [text, key](QWidget *window) {
        auto *label = window->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr) << "expected a message box";
        if (text)
            *text = label->text();
        QTest::keyClick(window, key);
    };
}

ModalDriver::Step FilesTest::unexpected(QStringList *seen)
{
    return [seen](QWidget *window) {
        auto *label = window->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        seen->append(window->windowTitle() + QStringLiteral(": ") + (label ? label->text() : QString()));
        window->close();
    };
}

ModalDriver::Step FilesTest::cancel(std::function<void(ui::PictureDialog &)> look)
{
    return [look](QWidget *window) {
        auto *dialog = dynamic_cast<ui::PictureDialog *>(window);
        ASSERT_NE(dialog, nullptr) << "expected a picture dialog";
        if (look)
            look(*dialog);
        dialog->reject();
    };
}

const std::vector<ColorRef> FilesTest::kSixColors = {
    platform::rgb(255, 0, 0),   platform::rgb(0, 255, 0),     platform::rgb(0, 0, 255),
    platform::rgb(10, 20, 30), platform::rgb(255, 255, 255), platform::rgb(128, 64, 200),
};

QString FilesTest::sixColors(const QString &name)
{
    return writeFile(name, bmp24Colors(3, 2, kSixColors));
}

QStringList keepingFiles()
{
    return {QStringLiteral(TOVI_TEST_FILES_DIR "/magick-rgba32-v5.bmp"), QStringLiteral(TOVI_CORPUS_DIR "/q/rgb24prof.bmp")};
}

void expectKeptBeyondColors(const picture::Bitmap &original, const picture::Bitmap &back, const QString &file)
{
    SCOPED_TRACE(file.toStdString());
    ASSERT_NE(original.fileExtras(), nullptr);
    ASSERT_NE(back.fileExtras(), nullptr);
    EXPECT_EQ(back.header().size, original.header().size);
    // Every field after the first 40 bytes, but the profile's offset, which
    // follows the layout (header bytes 112 to 115).
    std::vector<std::uint8_t> backTail = back.fileExtras()->headerTail;
    std::vector<std::uint8_t> originalTail = original.fileExtras()->headerTail;
    for (auto *tail : {&backTail, &originalTail}) {
        if (tail->size() >= 76)
            std::fill(tail->begin() + 72, tail->begin() + 76, 0);
    }
    EXPECT_EQ(backTail, originalTail);
    EXPECT_EQ(back.fileExtras()->profile, original.fileExtras()->profile);
    EXPECT_EQ(back.masks().alpha, original.masks().alpha);
    EXPECT_EQ(back.masks().colorBits(), original.masks().colorBits());
    const std::uint32_t alpha = original.masks().alpha;
    if (alpha == 0)
        return;
    ASSERT_EQ(original.raster()->bitsPerPixel(), 32);
    ASSERT_EQ(back.raster()->bitsPerPixel(), 32);
    ASSERT_EQ(back.width(), original.width());
    ASSERT_EQ(back.height(), original.height());
    int differing = 0;
    std::set<std::uint32_t> seen;
    for (int y = 0; y < original.height(); ++y) {
        for (int x = 0; x < original.width(); ++x) {
            std::uint32_t a = 0;
            std::uint32_t b = 0;
            std::memcpy(&a, original.raster()->scanLine(y) + 4 * x, 4);
            std::memcpy(&b, back.raster()->scanLine(y) + 4 * x, 4);
            seen.insert(a & alpha);
            differing += (a & alpha) != (b & alpha);
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(seen.size(), 1u) << "the file should have more than one alpha value";
}

}  // namespace tovi::test
