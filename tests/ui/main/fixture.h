#pragma once
// Shared pieces of the main window tests: a window shown offscreen, BMP files
// written byte by byte, a driver for modal windows and pixel helpers.

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "support/test_support.h"
#include "ui/main/main_form.h"

namespace tovi::test {

using platform::ColorRef;

// Lets the event loop run until it has nothing to do, so the idle-time
// enabling rules have run.
void settle(int ms = 20);

// Moves the pointer over a point of a widget, as a user does.
void hover(QWidget *widget, const QPoint &pos);

// ColorRef (0x00BBGGRR) of a painted pixel.
ColorRef colorAt(const QImage &image, int x, int y);
ColorRef colorAt(const QImage &image, const QPoint &p);

// A BMP file with 8 bits per pixel; `palette` holds ColorRef values and
// `indexes` width x height entries, top row first.
Bytes bmp8(int width, int height, const std::vector<ColorRef> &palette, const std::vector<int> &indexes);
// A 24-bit BMP from ColorRef values, top row first.
Bytes bmp24Colors(int width, int height, const std::vector<ColorRef> &colors);
// A 24-bit BMP of one colour.
Bytes bmp24Filled(int width, int height, ColorRef color);

// Answers modal windows and pop-up menus from inside their event loops, one
// step per window, in order.
class ModalDriver {
public:
    using Step = std::function<void(QWidget *)>;
    ModalDriver();
    ModalDriver &then(Step step);
    int handled() const { return m_handled; }
    bool done() const { return m_steps.empty(); }

private:
    void poll();
    QTimer m_poll;
    std::deque<Step> m_steps;
    int m_handled = 0;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A main window started with these command-line arguments, shown.
    ui::TMainForm &start(const QStringList &arguments = {});
    // Writes a file into the test's folder and returns its full name.
    QString writeFile(const QString &name, const Bytes &bytes);
    // Opens a file through the open step, as the command line does.
    void open(const QString &fileName);

    // Where a picture pixel lies in the main window.
    QPoint windowPointOfPixel(int x, int y) const;
    // Mouse events sent to the window at a point, found by hit testing as a
    // pointer would.
    void pressAt(const QPoint &windowPos, Qt::MouseButton button);
    void moveTo(const QPoint &windowPos, Qt::MouseButtons held);
    void releaseAt(const QPoint &windowPos, Qt::MouseButton button);

    TempDir m_dir;
    std::unique_ptr<ui::TMainForm> m_form;
};

}  // namespace tovi::test
