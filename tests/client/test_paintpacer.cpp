#include "tpaintpacer.h"

#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// A window whose child counts its paints and remembers when it was last painted.
class Counted : public QWidget
{
public:
    using QWidget::QWidget;
    int paints = 0;
    QElapsedTimer last;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        last.restart();
    }
};

} // namespace

TEST(PaintPacerTest, AChangeAfterAQuietSpellIsPaintedAtOnceAStreamAtMostEveryInterval)
{
    QWidget window;
    auto *child = new Counted(&window);
    child->resize(50, 50);
    window.resize(60, 60);
    TPaintPacer pacer(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return child->paints > 0; }, 2000));

    // After a quiet spell a change is painted in the same pass of the event loop.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return child->last.elapsed() > TPaintPacer::kIntervalMs + 5; }, 2000));
    int paints = child->paints;
    child->update();
    QCoreApplication::processEvents();
    EXPECT_EQ(child->paints, paints + 1);
    EXPECT_EQ(pacer.heldPaints(), 0);

    // Changes right after it wait for the rest of the interval, all in one paint.
    ++paints;
    QElapsedTimer since;
    since.start();
    child->update(QRect(0, 0, 5, 5));
    QCoreApplication::processEvents();
    child->update(QRect(10, 10, 5, 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(child->paints, paints);
    EXPECT_EQ(pacer.heldPaints(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return child->paints > paints; }, 2000));
    EXPECT_EQ(child->paints, paints + 1);
    // A timer may fire a little early, never long before its time.
    EXPECT_GE(since.elapsed(), TPaintPacer::kIntervalMs - 10);
}
