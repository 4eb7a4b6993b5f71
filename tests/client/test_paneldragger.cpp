#include "tpaneldragger.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

void send(QWidget *target, QEvent::Type type, QPoint local)
{
    const QPointF global = target->mapToGlobal(QPointF(local));
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent e(type, QPointF(local), global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

TEST(PanelDragger, KeptInsideTable)
{
    const QSize area(600, 400);
    struct Case
    {
        QRect panel;
        QPoint expected;
    };
    const QList<Case> cases = {
        {{50, 60, 200, 100}, {50, 60}},     // inside: stays
        {{-30, -5, 200, 100}, {4, 4}},      // past the top left: 4 inside
        {{500, 350, 200, 100}, {396, 296}}, // past the right and bottom: 4 inside
        {{400, 300, 200, 100}, {400, 300}}, // exactly touching: stays
        {{401, 301, 200, 100}, {396, 296}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TPanelDragger::keptInside(c.panel, area), c.expected) << c.panel.x();
}

TEST(PanelDragger, DraggingByTheTitleMovesAndKeepsThePanelInside)
{
    QWidget area;
    area.resize(600, 400);
    auto *panel = new QWidget(&area);
    panel->setGeometry(50, 50, 200, 100);
    auto *title = new QLabel(QStringLiteral("CURRENT NEWS"), panel);
    title->setGeometry(0, 0, 200, 20);
    TPanelDragger dragger(panel, {title});
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));

    send(title, QEvent::MouseButtonPress, {10, 10});
    EXPECT_TRUE(dragger.dragging());
    send(title, QEvent::MouseMove, {40, 30});
    EXPECT_EQ(panel->pos(), QPoint(80, 70));
    send(title, QEvent::MouseMove, {1000, 1000});
    send(title, QEvent::MouseButtonRelease, {1000, 1000});
    EXPECT_FALSE(dragger.dragging());
    EXPECT_EQ(panel->pos(), QPoint(396, 296));
}

} // namespace
