#include "townerdrawdelegate.h"
#include "tplayerlist.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

PlayerRow player(int i)
{
    return {QStringLiteral("p%1").arg(i, 5, 10, QLatin1Char('0')),
            QStringLiteral("1"),
            QStringLiteral("Lobby Chat"),
            {},
            false};
}

// A list of many players, shown, with a delegate that counts the rows it draws.
class PlayerListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        list.setItemDelegate(
            new TOwnerDrawDelegate([this](QPainter *, const QStyleOptionViewItem &,
                                          const QModelIndex &index) { drawn << index.row(); },
                                   &list));
        list.resize(200, 10 * 22 + 2 * list.frameWidth());
        for (int i = 0; i < kPlayers; i += 2)
            list.addItem(player(i));
        list.entries()->place();
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
        QCoreApplication::processEvents();
        drawn.clear();
    }
    int shownRows() const { return list.viewport()->height() / list.rowHeight(); }

    static constexpr int kPlayers = 20000;
    TPlayerList list;
    QList<int> drawn;
};

TEST_F(PlayerListTest, DrawsOnlyTheRowsInSightAndNothingForARowOutOfSight)
{
    list.viewport()->repaint();
    const QList<int> all = std::exchange(drawn, {});
    ASSERT_FALSE(all.isEmpty());
    EXPECT_LE(all.size(), shownRows() + 1);
    EXPECT_EQ(all.first(), 0);

    // A player far below the rows in sight comes and goes: nothing in sight changes.
    list.addItem(player(15001));
    list.entries()->place();
    EXPECT_TRUE(list.entries()->removeName(player(15001).name));
    QCoreApplication::processEvents();
    EXPECT_TRUE(drawn.isEmpty()) << drawn.size() << " rows drawn";

    // One that sorts into sight moves the rows below it: only those are drawn.
    list.addItem(player(3));
    list.entries()->place();
    QCoreApplication::processEvents();
    EXPECT_FALSE(drawn.isEmpty());
    EXPECT_LE(drawn.size(), shownRows() + 1);
    EXPECT_FALSE(drawn.contains(0)) << "a row above the new one was drawn";
    EXPECT_TRUE(drawn.contains(2));
}

TEST_F(PlayerListTest, KeysClicksAndScrollingAgreeOnTheRows)
{
    EXPECT_FALSE(list.indexAt(QPoint(5, -3)).isValid());
    list.setFocus();
    list.setCurrentIndex(list.model()->index(0, 0));
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentIndex().row(), 1);
    EXPECT_TRUE(list.selectionModel()->isRowSelected(1));
    QTest::keyClick(&list, Qt::Key_PageDown);
    EXPECT_EQ(list.currentIndex().row(), 1 + shownRows());
    QTest::keyClick(&list, Qt::Key_End);
    EXPECT_EQ(list.currentIndex().row(), kPlayers / 2 - 1);
    // The current row was scrolled into sight.
    EXPECT_TRUE(list.viewport()->rect().contains(list.visualRect(list.currentIndex())));
    QTest::keyClick(&list, Qt::Key_Home);
    EXPECT_EQ(list.currentIndex().row(), 0);
    EXPECT_EQ(list.verticalScrollBar()->value(), 0);
    // Typing a name goes to that player.
    QTest::keyClicks(&list, QStringLiteral("p00100"));
    EXPECT_EQ(list.currentIndex().data(TPlayerListModel::NameRole).toString(), "p00100");

    // A click takes the row under the mouse, and only that row.
    list.scrollTo(list.model()->index(5000, 0), QAbstractItemView::PositionAtTop);
    const QRect rect = list.visualRect(list.model()->index(5003, 0));
    ASSERT_TRUE(list.viewport()->rect().contains(rect));
    EXPECT_EQ(list.indexAt(rect.center()).row(), 5003);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(list.currentIndex().row(), 5003);
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 1);
}

TEST_F(PlayerListTest, ARowAboveTheViewKeepsTheTopRowNumberAndTheSelectedPlayer)
{
    list.scrollTo(list.model()->index(100, 0), QAbstractItemView::PositionAtTop);
    list.setCurrentIndex(list.model()->index(104, 0));
    const QString selected = list.currentIndex().data(TPlayerListModel::NameRole).toString();
    list.addItem(player(1));
    list.entries()->place();
    EXPECT_EQ(list.indexAt(QPoint(1, 1)).row(), 100);
    EXPECT_EQ(list.currentIndex().data(TPlayerListModel::NameRole).toString(), selected);
    EXPECT_EQ(list.currentIndex().row(), 105);
    EXPECT_TRUE(list.selectionModel()->isRowSelected(105));
    // The last row stays reachable.
    list.scrollToBottom();
    EXPECT_EQ(list.indexAt(QPoint(1, list.viewport()->height() - 1)).row(), list.count() - 1);
}

// A screen reader sees a list whose rows say the players' names.
TEST_F(PlayerListTest, AScreenReaderSeesAListOfNames)
{
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::List);
    ASSERT_NE(view->tableInterface(), nullptr);
    EXPECT_EQ(view->tableInterface()->rowCount(), kPlayers / 2);
    QAccessibleInterface *cell = view->tableInterface()->cellAt(1, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "p00002");
}

// The model's signals must agree with its rows through inserts, in-place changes,
// removals, merged batches and a clear.
TEST(PlayerListModelTest, SignalsAgreeWithTheRows)
{
    TPlayerListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int i = 0; i < 40; ++i)
        model.insert(player(i * 7 % 40));
    model.place();
    PlayerRow moved = player(3);
    moved.level = QStringLiteral("4");
    model.insert(moved);
    moved.room = QStringLiteral("alpha");
    model.insert(moved);
    model.insert(player(100));
    model.place();
    EXPECT_TRUE(model.removeName(player(5).name));
    EXPECT_FALSE(model.removeName(QStringLiteral("nobody")));
    EXPECT_EQ(model.rowCount(), 40);
    EXPECT_EQ(model.entryOf(player(3).name), "p00003:4:alpha:");
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
