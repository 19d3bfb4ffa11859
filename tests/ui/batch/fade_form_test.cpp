// The fade animation of the one-use windows, step for step: the opacities of
// the fade-in ticks and of the fade-out steps, and when each happens.

#include "ui/common/fade_form.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/batch/result_form.h"

namespace tovi::ui {
namespace {

// The result window, counting its paints and recording every opacity with
// the paint count and visibility at that moment.
class WatchedForm : public TResultForm {
public:
    WatchedForm() : TResultForm(nullptr)
    {
        connect(this, &FadeForm::opacityChanged, this, [this](int value) {
            opacities.push_back(value);
            visibleAt.push_back(isVisible());
            paintsBefore.push_back(paints);
        });
    }

    std::vector<int> opacities;
    std::vector<bool> visibleAt;
    std::vector<int> paintsBefore;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        TResultForm::paintEvent(event);
    }
};

std::vector<int> range(int from, int to, int step)
{
    std::vector<int> values;
    for (int v = from; step > 0 ? v <= to : v >= to; v += step)
        values.push_back(v);
    return values;
}

// Shown and on the screen, so that a repaint paints at once.
void showExposed(QWidget &form)
{
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
}

void tick(FadeForm &form, int times)
{
    for (int i = 0; i < times; ++i)
        form.Timer1Timer();
}

TEST(FadeAnimation, CreatedTransparentWithTheTimerStopped)
{
    WatchedForm form;
    EXPECT_EQ(form.opacity(), 0);
    EXPECT_TRUE(form.alphaBlend());
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 0.0);
    EXPECT_TRUE(form.fadingIn());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 10);
}

TEST(FadeAnimation, ShowingStartsTheTimer)
{
    WatchedForm form;
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.opacity(), 0);
    form.hide();
}

TEST(FadeAnimation, TicksRaiseByTenAndThe27thEndsTheFadeIn)
{
    WatchedForm form;
    form.show();
    for (int i = 1; i <= 25; ++i) {
        form.Timer1Timer();
        EXPECT_NEAR(form.windowOpacity(), i * 10 / 255.0, 1.0 / 255);
    }
    tick(form, 1);
    std::vector<int> expected = range(10, 250, 10);
    expected.push_back(255);
    EXPECT_EQ(form.opacities, expected);
    EXPECT_TRUE(form.alphaBlend());
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_NEAR(form.windowOpacity(), 1.0, 1e-9);

    tick(form, 1);
    EXPECT_EQ(form.opacities.size(), expected.size());
    EXPECT_FALSE(form.alphaBlend());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
    form.hide();
}

TEST(FadeAnimation, EachTickPaintsTheWindowSoTheOpacityShowsAtOnce)
{
    WatchedForm form;
    showExposed(form);
    form.Timer1->stop();
    for (int i = 1; i <= 27; ++i) {
        const int before = form.paints;
        form.Timer1Timer();
        EXPECT_EQ(form.paints, before + 1) << "tick " << i;
    }
    // After the fade-in a tick changes nothing and paints nothing.
    form.hide();
    const int before = form.paints;
    form.Timer1Timer();
    EXPECT_EQ(form.paints, before);
}

TEST(FadeAnimation, OkAtFullOpacityFadesOutInThirteenStepsBeforeHiding)
{
    WatchedForm form;
    showExposed(form);
    form.Timer1->stop();  // the ticks below stand for the timer's
    form.opacities.clear();
    tick(form, 27);
    form.opacities.clear();
    form.visibleAt.clear();
    form.paintsBefore.clear();
    form.paints = 0;

    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(form.Button1, Qt::Key_Return);
    const qint64 elapsed = clock.elapsed();

    std::vector<int> expected = range(235, 15, -20);
    expected.push_back(0);
    EXPECT_EQ(form.opacities, expected);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // Every step happened while the window was still on the screen, and each
    // was painted before the next.
    for (std::size_t i = 0; i < form.visibleAt.size(); ++i) {
        EXPECT_TRUE(form.visibleAt[i]) << "step " << i;
        EXPECT_EQ(form.paintsBefore[i], int(i)) << "step " << i;
    }
    EXPECT_EQ(form.paints, 13);
    EXPECT_GE(elapsed, 13 * 10);
    EXPECT_FALSE(form.fadingIn());
    EXPECT_TRUE(form.alphaBlend());
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 0.0);
}

TEST(FadeAnimation, ClosingDuringTheFadeInStartsFromTheOpacityReached)
{
    WatchedForm form;
    form.show();
    tick(form, 10);
    ASSERT_EQ(form.opacity(), 100);
    form.opacities.clear();
    QTest::keyClick(form.Button1, Qt::Key_Return);
    EXPECT_EQ(form.opacities, (std::vector<int>{80, 60, 40, 20, 0}));
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST(FadeAnimation, TicksAfterHidingChangeNothing)
{
    WatchedForm form;
    form.show();
    tick(form, 3);
    form.hide();
    form.opacities.clear();
    tick(form, 5);
    EXPECT_TRUE(form.opacities.empty());
    EXPECT_EQ(form.opacity(), 0);
    EXPECT_TRUE(form.alphaBlend());
}

TEST(FadeAnimation, HidingAWindowNeverShownRunsNoFadeOut)
{
    WatchedForm form;
    form.hide();
    EXPECT_TRUE(form.fadingIn());
    EXPECT_TRUE(form.opacities.empty());
}

TEST(FadeAnimation, ModalShowingFadesInAndOkFadesOut)
{
    WatchedForm form;
    QTimer::singleShot(0, &form, [&] {
        // Wait until the timer has finished the fade-in, then press OK.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Timer1->isActive(); }, 5000));
        QTest::keyClick(form.Button1, Qt::Key_Return);
    });
    form.exec();
    std::vector<int> expected = range(10, 250, 10);
    expected.push_back(255);
    const std::vector<int> out = range(235, 15, -20);
    expected.insert(expected.end(), out.begin(), out.end());
    expected.push_back(0);
    EXPECT_EQ(form.opacities, expected);
}

}  // namespace
}  // namespace tovi::ui
