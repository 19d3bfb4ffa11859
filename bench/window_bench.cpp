// Times the main window with a large picture: the open step to the first
// paint of the picture, one processing command with its repaint, and one
// scroll step with its repaint; then the zoomed view: "fit to window" and
// 400 %, each as the zoom step with its paint, a full repaint of the view
// (median of several) and a scroll step with its repaint.
//
//   cmake --build <dir> --target window_bench
//   <dir>/bin/window_bench [width height]      (default 8000 x 6000, 24 bits)
//
// Without a display it runs on the offscreen platform.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ui/main/application.h"
#include "ui/main/main_form.h"
#include "ui/common/palette_colors.h"

namespace {

void put16(std::ofstream &out, unsigned v)
{
    const char b[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
    out.write(b, 2);
}

void put32(std::ofstream &out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A bottom-up 24-bit BMP with bands of colour and a black and white grid.
void writePicture(const std::string &path, int width, int height)
{
    std::ofstream out(path, std::ios::binary);
    const std::uint32_t rowBytes = std::uint32_t((width * 3 + 3) / 4 * 4);
    const std::uint32_t imageBytes = rowBytes * std::uint32_t(height);
    out.write("BM", 2);
    put32(out, 54 + imageBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, std::uint32_t(width));
    put32(out, std::uint32_t(height));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, imageBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    std::vector<char> row(rowBytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const bool grid = x % 100 < 2 || y % 100 < 2;
            row[std::size_t(3 * x)] = char(grid ? 0 : x * 255 / width);
            row[std::size_t(3 * x + 1)] = char(grid ? 0 : y * 255 / height);
            row[std::size_t(3 * x + 2)] = char(grid ? 0 : 255);
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
}

// Runs the event loop until the picture control has painted once more.
void waitForPaint(int &paints, int before)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (paints > before)
            loop.quit();
    });
    poll.start(0);
    if (paints == before)
        loop.exec();
}

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    tovi::ui::TApplication app(argc, argv);
    tovi::ui::loadSystemColors(QApplication::palette());
    const int width = argc > 2 ? std::atoi(argv[1]) : 8000;
    const int height = argc > 2 ? std::atoi(argv[2]) : 6000;
    const std::string path = "/tmp/tovi_window_bench.bmp";
    writePicture(path, width, height);

    tovi::ui::TMainForm form;
    form.show();
    int paints = 0;
    form.Image1->onPainted = [&] { ++paints; };
    {
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QElapsedTimer t;
    t.start();
    form.setOpenDialogFileName(QString::fromStdString(path));
    form.OpenPicture1Accept();
    waitForPaint(paints, 0);
    const double open = ms(t);

    form.modeInv->trigger();
    const tovi::picture::Bitmap &bitmap = *form.Image1->bitmap();
    const auto corner = bitmap.pixel(width - 1, height - 1), middle = bitmap.pixel(width / 2, height / 2);
    t.restart();
    int before = paints;
    form.ColorProcRun->trigger();
    waitForPaint(paints, before);
    const double process = ms(t);
    const bool inverted = bitmap.pixel(width - 1, height - 1) == (corner ^ 0xFFFFFFu) &&
                          bitmap.pixel(width / 2, height / 2) == (middle ^ 0xFFFFFFu);

    t.restart();
    before = paints;
    QScrollBar *bar = form.ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() + bar->singleStep() * 3);
    waitForPaint(paints, before);
    const double scroll = ms(t);

    // The zoomed view. A full repaint (the background painter with gradient
    // and shadow, then the picture) is synchronous; the median of several
    // evens out a shared machine.
    const auto repaintView = [&] {
        std::vector<double> times;
        for (int i = 0; i < 9; ++i) {
            QElapsedTimer r;
            r.start();
            form.PaintBox1->repaint();
            form.Image1->repaint();
            times.push_back(ms(r));
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const auto scrollStep = [&] {
        QElapsedTimer r;
        r.start();
        const int painted = paints;
        QScrollBar *v = form.ScrollBox1->verticalScrollBar();
        QScrollBar *h = form.ScrollBox1->horizontalScrollBar();
        v->setValue(v->value() + v->singleStep() * 3);
        h->setValue(h->value() + h->singleStep() * 3);
        if (v->maximum() > 0 || h->maximum() > 0)
            waitForPaint(paints, painted);
        return ms(r);
    };
    t.restart();
    before = paints;
    form.ViewFitToWindow->trigger();
    waitForPaint(paints, before);
    const double fitStep = ms(t);
    const double fitZoom = form.zoom();
    const double fitRepaint = repaintView();
    t.restart();
    before = paints;
    form.setZoom(4);
    waitForPaint(paints, before);
    const double zoomStep = ms(t);
    const double zoomRepaint = repaintView();
    const double zoomScroll = scrollStep();

    std::printf("picture %d x %d, 24 bits, platform %s, view %d x %d\n", width, height,
                qPrintable(QGuiApplication::platformName()), form.ScrollBox1->viewport()->width(),
                form.ScrollBox1->viewport()->height());
    std::printf("open step to first paint   %8.1f ms\n", open);
    std::printf("invert command with repaint %7.1f ms%s\n", process, inverted ? "" : "  (NOT INVERTED)");
    std::printf("scroll step with repaint    %7.1f ms\n", scroll);
    std::printf("fit to window (%.4fx) step  %7.1f ms, full repaint %6.1f ms\n", fitZoom, fitStep, fitRepaint);
    std::printf("400%% step with paint       %7.1f ms, full repaint %6.1f ms, scroll step %6.1f ms\n", zoomStep,
                zoomRepaint, zoomScroll);
    std::remove(path.c_str());
    return 0;
}
