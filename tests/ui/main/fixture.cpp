#include "fixture.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include "platform/system_colors.h"
#include "support/tiny_bmp.h"
#include "ui/main/application.h"
#include "ui/common/palette_colors.h"

namespace tovi::test {

void settle(int ms)
{
    // A real event loop: it waits for events, so the program becomes idle
    // as it does when a user works with it.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void hover(QWidget *widget, const QPoint &pos)
{
    QCursor::setPos(widget->mapToGlobal(pos));
    settle();
}

ColorRef colorAt(const QImage &image, int x, int y)
{
    const QRgb c = image.pixel(x, y);
    return platform::rgb(unsigned(qRed(c)), unsigned(qGreen(c)), unsigned(qBlue(c)));
}

ColorRef colorAt(const QImage &image, const QPoint &p)
{
    return colorAt(image, p.x(), p.y());
}

Bytes bmp8(int width, int height, const std::vector<ColorRef> &palette, const std::vector<int> &indexes)
{
    const int rowSize = (width + 3) / 4 * 4;
    Bytes out = tiny_bmp::headers(width, height, 8, std::uint32_t(palette.size()), std::uint32_t(rowSize * height));
    for (ColorRef c : palette)
        tiny_bmp::put32(out, platform::blueOf(c) | platform::greenOf(c) << 8 | platform::redOf(c) << 16);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            out.push_back(std::uint8_t(indexes[std::size_t(y * width + x)]));
        out.resize(out.size() + std::size_t(rowSize - width), 0);
    }
    return out;
}

Bytes bmp24Colors(int width, int height, const std::vector<ColorRef> &colors)
{
    std::vector<std::uint32_t> rgb;
    for (ColorRef c : colors)
        rgb.push_back(platform::redOf(c) << 16 | platform::greenOf(c) << 8 | platform::blueOf(c));
    return bmp24(width, height, rgb);
}

Bytes bmp24Filled(int width, int height, ColorRef color)
{
    return bmp24Colors(width, height, std::vector<ColorRef>(std::size_t(width * height), color));
}

ModalDriver::ModalDriver()
{
    m_poll.setInterval(2);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
    m_poll.start();
}

ModalDriver &ModalDriver::then(Step step)
{
    m_steps.push_back(std::move(step));
    return *this;
}

void ModalDriver::poll()
{
    static constexpr const char *kSeen = "tovi_test_seen";
    QWidget *window = QApplication::activePopupWidget();
    if (!window)
        window = QApplication::activeModalWidget();
    if (!window || !window->isVisible() || window->property(kSeen).toBool() || m_steps.empty())
        return;
    window->setProperty(kSeen, true);
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    ++m_handled;
    step(window);
}

void MainFormTest::SetUp()
{
    platform::resetSysColors();
    ui::loadSystemColors(QApplication::palette());
    ui::setApplicationTitle(QString::fromUtf8(ui::kApplicationTitle));
    ui::setApplicationHelpFile(QString::fromUtf8(ui::kHelpFileName));
}

void MainFormTest::TearDown()
{
    m_form.reset();
    settle(1);
}

ui::TMainForm &MainFormTest::start(const QStringList &arguments)
{
    m_form = std::make_unique<ui::TMainForm>(arguments);
    m_form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    settle();
    return *m_form;
}

QString MainFormTest::writeFile(const QString &name, const Bytes &bytes)
{
    const std::string path = m_dir.file(name.toStdString());
    test::writeFile(path, bytes);
    return QString::fromStdString(path);
}

void MainFormTest::open(const QString &fileName)
{
    m_form->setOpenDialogFileName(fileName);
    m_form->OpenPicture1Accept();
    settle();
}

QPoint MainFormTest::windowPointOfPixel(int x, int y) const
{
    return m_form->Image1->mapTo(m_form.get(), QPoint(x, y));
}

void MainFormTest::pressAt(const QPoint &windowPos, Qt::MouseButton button)
{
    QTest::mousePress(m_form->windowHandle(), button, {}, windowPos);
}

void MainFormTest::moveTo(const QPoint &windowPos, Qt::MouseButtons)
{
    QTest::mouseMove(m_form->windowHandle(), windowPos);
}

void MainFormTest::releaseAt(const QPoint &windowPos, Qt::MouseButton button)
{
    QTest::mouseRelease(m_form->windowHandle(), button, {}, windowPos);
}

}  // namespace tovi::test
