#include "lobbystyle.h"
#include "townerdrawdelegate.h"
#include "troomstree.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The nodes a tree shows, in order, found through the general model interface: each
// text indented by a space per level.
QStringList walkShown(const TRoomsTreeModel &model, const QModelIndex &parent = {})
{
    QStringList out;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        out << QString(model.depth(index), QLatin1Char(' ')) + model.text(index);
        if (model.isExpanded(index))
            out << walkShown(model, index);
    }
    return out;
}

// The flat row numbers and the general interface must agree on every shown node.
void expectFlatRowsAgree(const TRoomsTreeModel &model)
{
    const QStringList shown = walkShown(model);
    ASSERT_EQ(model.shownRows(), shown.size());
    QModelIndex walked = model.atFlatRow(0);
    for (int row = 0; row < shown.size(); ++row) {
        const QModelIndex index = model.atFlatRow(row);
        ASSERT_TRUE(index.isValid()) << row;
        EXPECT_EQ(QString(model.depth(index), QLatin1Char(' ')) + model.text(index), shown[row]);
        EXPECT_EQ(model.flatRow(index), row) << shown[row].toStdString();
        EXPECT_EQ(walked, index) << row;
        walked = model.nextShown(walked);
    }
    EXPECT_FALSE(walked.isValid());
    EXPECT_FALSE(model.atFlatRow(static_cast<int>(shown.size())).isValid());
}

// Steps of a scenario: "cat:Word Games", "room:Word Games/alpha", "move:bob>alpha" (an empty
// room takes the player out), "open:alpha", "close:Word Games", "place", "batch:alpha/40"
// (forty players m00..m39 at once, half of them in capitals).
void run(TRoomsTreeModel &model, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QString kind = step.section(QLatin1Char(':'), 0, 0);
        const QString what = step.section(QLatin1Char(':'), 1);
        const auto node = [&](const QString &text) {
            const QModelIndex category = model.category(text);
            return category.isValid() ? category : model.room(text);
        };
        if (kind == QLatin1String("cat")) {
            model.addCategory(what);
        } else if (kind == QLatin1String("room")) {
            model.addRoom(model.category(what.section(QLatin1Char('/'), 0, 0)),
                          what.section(QLatin1Char('/'), 1), 2);
        } else if (kind == QLatin1String("move")) {
            model.queueMove(what.section(QLatin1Char('>'), 0, 0),
                            what.section(QLatin1Char('>'), 1));
        } else if (kind == QLatin1String("batch")) {
            const QString room = what.section(QLatin1Char('/'), 0, 0);
            const int count = what.section(QLatin1Char('/'), 1).toInt();
            for (int i = count - 1; i >= 0; --i)
                model.queueMove(QStringLiteral("%1%2")
                                    .arg(i % 2 ? QLatin1Char('M') : QLatin1Char('m'))
                                    .arg(i, 2, 10, QLatin1Char('0')),
                                room);
        } else if (kind == QLatin1String("open") || kind == QLatin1String("close")) {
            model.setExpanded(node(what), kind == QLatin1String("open"));
        } else if (kind == QLatin1String("place")) {
            model.place();
        } else {
            FAIL() << "unknown step " << step.toStdString();
        }
    }
    model.place();
}

const QStringList kLobby = {
    "cat:Word Games",      "cat:Card Games",  "room:Word Games/beta", "room:Word Games/alpha",
    "room:Card Games/Zed", "open:Word Games", "open:Card Games",      "open:alpha",
    "open:beta",           "open:Zed"};

struct TreeCase
{
    const char *name;
    QStringList steps;
    QStringList shown;
};

void PrintTo(const TreeCase &c, std::ostream *os)
{
    *os << c.name;
}

class RoomsTreeModelTest : public ::testing::TestWithParam<TreeCase>
{
};

} // namespace

TEST_P(RoomsTreeModelTest, PlacesNodesAndNumbersTheShownRows)
{
    TRoomsTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    run(model, kLobby + GetParam().steps);
    EXPECT_EQ(walkShown(model), GetParam().shown);
    expectFlatRowsAgree(model);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RoomsTreeModelTest,
    ::testing::Values(
        TreeCase{"sorted without regard to case",
                 {"move:bob>alpha", "move:Carl>alpha", "move:amy>alpha", "move:Zoe>beta"},
                 {"Card Games", " Zed", "Word Games", " alpha", "  amy", "  bob", "  Carl", " beta",
                  "  Zoe"}},
        TreeCase{"a player moving lands under the new room only",
                 {"move:bob>alpha", "move:amy>alpha", "place", "move:bob>beta"},
                 {"Card Games", " Zed", "Word Games", " alpha", "  amy", " beta", "  bob"}},
        TreeCase{"the latest room of a batch wins; an empty or unknown room takes out",
                 {"move:bob>alpha", "move:amy>alpha", "move:cy>Zed", "place", "move:bob>beta",
                  "move:bob>Zed", "move:amy>", "move:cy>Lobby Chat"},
                 {"Card Games", " Zed", "  bob", "Word Games", " alpha", " beta"}},
        TreeCase{"a player named like a room leaves the room's node alone",
                 {"move:Zed>alpha", "place", "move:Zed>beta"},
                 {"Card Games", " Zed", "Word Games", " alpha", " beta", "  Zed"}},
        TreeCase{"a closed room above keeps the rows below in order",
                 {"move:bob>alpha", "move:amy>alpha", "move:cy>beta", "place", "close:alpha",
                  "move:dee>alpha"},
                 {"Card Games", " Zed", "Word Games", " alpha", " beta", "  cy"}},
        TreeCase{"a closed category hides its rooms and their players",
                 {"move:bob>Zed", "move:cy>beta", "close:Card Games"},
                 {"Card Games", "Word Games", " alpha", " beta", "  cy"}},
        TreeCase{"opening again shows what arrived while closed",
                 {"close:Word Games", "move:bob>alpha", "move:cy>beta", "place", "open:Word Games"},
                 {"Card Games", " Zed", "Word Games", " alpha", "  bob", " beta", "  cy"}},
        TreeCase{
            "a large batch merges with the players already there",
            {"move:m05>alpha", "move:zz>alpha", "place", "batch:alpha/40", "place", "batch:beta/3",
             "close:alpha"},
            {"Card Games", " Zed", "Word Games", " alpha", " beta", "  m00", "  M01", "  m02"}}));

// A large batch into a room that has players: every node ends up in order, and whatever a
// view holds under the room (its current node) still names the same player.
TEST(RoomsTreeModelMergeTest, ABatchMergesInOrderAndHeldNodesFollow)
{
    TRoomsTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    run(model, kLobby + QStringList{"move:m05>alpha", "move:M31>alpha", "move:zz>alpha"});
    const QPersistentModelIndex held = model.player(QStringLiteral("M31"));
    ASSERT_TRUE(held.isValid());
    run(model, {"batch:alpha/40"});
    EXPECT_EQ(model.text(held), "M31");
    const QModelIndex alpha = model.room(QStringLiteral("alpha"));
    // m05 and M05 are two players; M31 was there already.
    ASSERT_EQ(model.rowCount(alpha), 42);
    for (int row = 1; row < model.rowCount(alpha); ++row)
        EXPECT_TRUE(TRoomsTreeModel::textLess(model.text(model.index(row - 1, 0, alpha)),
                                              model.text(model.index(row, 0, alpha))))
            << row;
    EXPECT_EQ(model.text(model.index(41, 0, alpha)), "zz");
    EXPECT_EQ(held.row(), model.flatRow(held) - model.flatRow(alpha) - 1);
    expectFlatRowsAgree(model);
}

namespace {

// The rooms tree on screen, with a delegate that records the nodes it draws.
class RoomsTreeViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tree.setItemDelegate(new TOwnerDrawDelegate(
            [this](QPainter *, const QStyleOptionViewItem &, const QModelIndex &index) {
                drawn << index.data().toString();
            },
            &tree));
        run(*tree.rooms(), kLobby);
        for (int i = 0; i < kPlayers; ++i)
            tree.rooms()->queueMove(name(i), QStringLiteral("beta"));
        tree.rooms()->place();
        tree.resize(240, 12 * tree.rowHeight() + 2 * tree.frameWidth());
        tree.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
        QCoreApplication::processEvents();
        drawn.clear();
    }
    static QString name(int i) { return QStringLiteral("p%1").arg(i, 4, 10, QLatin1Char('0')); }
    QModelIndex node(const QString &text) const
    {
        const QModelIndex room = tree.rooms()->room(text);
        return room.isValid() ? room : tree.rooms()->player(text);
    }
    QString topText() const
    {
        return tree.indexAt(QPoint(tree.indentOf({}) + 2, 1)).data().toString();
    }
    void settle()
    {
        tree.rooms()->place();
        QCoreApplication::processEvents();
    }

    static constexpr int kPlayers = 2000;
    TRoomsTree tree;
    QStringList drawn;
};

} // namespace

TEST_F(RoomsTreeViewTest, DrawsOnlyTheRowsInSightThatMoved)
{
    // A player far below the rows in sight comes and goes: nothing is drawn.
    tree.rooms()->queueMove(QStringLiteral("p1500x"), QStringLiteral("beta"));
    settle();
    tree.rooms()->queueMove(QStringLiteral("p1500x"), QString());
    settle();
    EXPECT_TRUE(drawn.isEmpty()) << drawn.join(QLatin1Char(',')).toStdString();

    // One in sight: the rows from it down are drawn, not those above it.
    tree.rooms()->queueMove(QStringLiteral("p0001x"), QStringLiteral("beta"));
    settle();
    EXPECT_FALSE(drawn.contains(QStringLiteral("alpha")));
    EXPECT_TRUE(drawn.contains(QStringLiteral("p0001x")));
    EXPECT_LE(drawn.size(), 13);
}

TEST_F(RoomsTreeViewTest, RowsAboveTheViewKeepTheNodesInSightAndTheCurrentNode)
{
    tree.scrollTo(node(name(500)), QAbstractItemView::PositionAtTop);
    tree.setCurrentIndex(node(name(503)));
    settle();
    ASSERT_EQ(topText(), name(500));
    drawn.clear();

    // Players arrive above (in the room before) and above in the same room; a room above
    // is closed and opened.
    run(*tree.rooms(), {"move:amy>alpha", "move:bob>alpha", "move:p0001x>beta"});
    QCoreApplication::processEvents();
    EXPECT_EQ(topText(), name(500));
    EXPECT_EQ(tree.currentIndex().data().toString(), name(503));
    EXPECT_TRUE(tree.selectionModel()->isSelected(tree.currentIndex()));
    EXPECT_TRUE(drawn.isEmpty()) << drawn.join(QLatin1Char(',')).toStdString();
    tree.setExpanded(node(QStringLiteral("alpha")), false);
    EXPECT_EQ(topText(), name(500));
    tree.setExpanded(node(QStringLiteral("alpha")), true);
    EXPECT_EQ(topText(), name(500));
    EXPECT_EQ(tree.indexAt(tree.visualRect(tree.currentIndex()).center()), tree.currentIndex());

    // Players leave above.
    run(*tree.rooms(), {"move:amy>", "move:p0002>"});
    EXPECT_EQ(topText(), name(500));
    // The last row stays reachable.
    tree.verticalScrollBar()->setValue(tree.verticalScrollBar()->maximum());
    EXPECT_EQ(tree.indexAt(QPoint(tree.indentOf({}) * 3, tree.viewport()->height() - 1))
                  .data()
                  .toString(),
              name(kPlayers - 1));
}

TEST_F(RoomsTreeViewTest, ARemovedCurrentNodeHandsOnToTheNextOrItsRoom)
{
    tree.setCurrentIndex(node(name(7)));
    run(*tree.rooms(), {QStringLiteral("move:%1>").arg(name(7))});
    EXPECT_EQ(tree.currentIndex().data().toString(), name(8));
    run(*tree.rooms(), {"move:cy>alpha"});
    tree.setCurrentIndex(node(QStringLiteral("cy")));
    run(*tree.rooms(), {"move:cy>"});
    EXPECT_EQ(tree.currentIndex().data().toString(), "alpha");
}

TEST_F(RoomsTreeViewTest, MouseAndKeysOpenCloseAndActivate)
{
    QSignalSpy activated(&tree, &QAbstractItemView::activated);
    QSignalSpy collapsed(&tree, &TRoomsTree::collapsed);
    const QModelIndex beta = node(QStringLiteral("beta"));
    const QRect rect = tree.visualRect(beta);
    ASSERT_TRUE(tree.viewport()->rect().contains(rect));

    // A press on the branch mark closes the room without selecting it.
    const QPersistentModelIndex before = tree.currentIndex();
    const QPoint mark(rect.left() - 5, rect.center().y());
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, mark);
    EXPECT_FALSE(tree.isExpanded(beta));
    EXPECT_EQ(collapsed.size(), 1);
    EXPECT_EQ(tree.currentIndex(), before);

    // A double click on the text activates the room and opens it.
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(tree.currentIndex(), beta);
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated.first().first().value<QModelIndex>(), beta);
    EXPECT_TRUE(tree.isExpanded(beta));

    // Keys: Down goes to the first player, Left back up to the room, Left again closes
    // it, Right opens it, - and + too; Enter activates.
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Down);
    EXPECT_EQ(tree.currentIndex().data().toString(), name(0));
    QTest::keyClick(&tree, Qt::Key_Left);
    EXPECT_EQ(tree.currentIndex(), beta);
    QTest::keyClick(&tree, Qt::Key_Left);
    EXPECT_FALSE(tree.isExpanded(beta));
    QTest::keyClick(&tree, Qt::Key_Right);
    EXPECT_TRUE(tree.isExpanded(beta));
    QTest::keyClick(&tree, Qt::Key_Minus);
    EXPECT_FALSE(tree.isExpanded(beta));
    // The room is the last node shown: no hidden player is entered.
    QTest::keyClick(&tree, Qt::Key_Down);
    EXPECT_EQ(tree.currentIndex(), beta);
    QTest::keyClick(&tree, Qt::Key_Plus);
    EXPECT_TRUE(tree.isExpanded(beta));
    QTest::keyClick(&tree, Qt::Key_Return);
    ASSERT_EQ(activated.size(), 2);
    EXPECT_EQ(activated.last().first().value<QModelIndex>(), beta);

    // Closing a room hands the focus from a player inside it to the room.
    tree.setCurrentIndex(node(name(3)));
    tree.setExpanded(beta, false);
    EXPECT_EQ(tree.currentIndex(), beta);

    // Typing a name goes to the shown node that starts with it.
    tree.setExpanded(beta, true);
    tree.setCurrentIndex(node(QStringLiteral("alpha")));
    QTest::keyClicks(&tree, QStringLiteral("p0012"));
    EXPECT_EQ(tree.currentIndex().data().toString(), name(12));
}

// A screen reader sees a tree whose items are the shown nodes, in the order drawn.
TEST_F(RoomsTreeViewTest, AScreenReaderSeesATreeOfTheShownNodes)
{
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(&tree);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::Tree);
    EXPECT_EQ(view->childCount(), 5 + kPlayers);
    QAccessibleInterface *beta = view->child(4);
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->role(), QAccessible::TreeItem);
    EXPECT_EQ(beta->text(QAccessible::Name), "beta");
    EXPECT_TRUE(beta->state().expandable);
    EXPECT_TRUE(beta->state().expanded);
    EXPECT_EQ(beta->parent(), view);
    EXPECT_EQ(view->indexOfChild(beta), 4);
    EXPECT_EQ(view->child(4), beta) << "one interface per node";
    EXPECT_EQ(view->child(6)->text(QAccessible::Name), name(1));
    EXPECT_EQ(view->childAt(beta->rect().center().x(), beta->rect().center().y()), beta);

    // A player arriving above moves the rows: the same node keeps its interface and
    // reports its new place.
    run(*tree.rooms(), {"move:amy>alpha"});
    EXPECT_EQ(view->indexOfChild(beta), 5);
    EXPECT_EQ(view->child(5), beta);
    tree.setExpanded(node(QStringLiteral("beta")), false);
    EXPECT_EQ(view->childCount(), 6);
    EXPECT_TRUE(beta->state().collapsed);
    EXPECT_EQ(view->child(6), nullptr);

    tree.setFocus();
    tree.setCurrentIndex(node(QStringLiteral("amy")));
    if (tree.hasFocus()) {
        EXPECT_EQ(view->focusChild(), view->child(4));
    }
}

// The branch marks, in the program's own look: a room with players has one that shows
// whether it is open, a room without players none.
TEST_F(RoomsTreeViewTest, BranchMarksShowWhichNodesOpenAndWhetherTheyAreOpen)
{
    LobbyStyle::apply(*qApp);
    const auto mark = [this](const QString &text) {
        const QRect item = tree.visualRect(node(text));
        const int indentation = tree.indentOf(node(text)) / 2;
        return tree.viewport()
            ->grab(QRect(item.left() - indentation, item.top(), indentation, item.height()))
            .toImage();
    };
    const auto plain = [](const QImage &image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != image.pixel(0, 0))
                    return false;
        return true;
    };
    const QImage open = mark(QStringLiteral("beta"));
    EXPECT_FALSE(plain(open));
    EXPECT_TRUE(plain(mark(QStringLiteral("alpha"))));
    tree.setExpanded(node(QStringLiteral("beta")), false);
    const QImage closed = mark(QStringLiteral("beta"));
    EXPECT_FALSE(plain(closed));
    EXPECT_NE(open, closed);
    qApp->setStyleSheet(QString());
}
