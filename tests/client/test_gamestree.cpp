#include "tgamestree.h"
#include "townerdrawdelegate.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QFont>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The nodes the model shows, in order, found through the general model interface: a
// player's name indented by a space.
QStringList walkShown(const TGamesTreeModel &model)
{
    QStringList out;
    for (int g = 0; g < model.rowCount(); ++g) {
        const QModelIndex game = model.index(g, 0);
        out << model.text(game);
        if (!model.isExpanded(game))
            continue;
        for (int p = 0; p < model.rowCount(game); ++p)
            out << QLatin1Char(' ') + model.text(model.index(p, 0, game));
    }
    return out;
}

// The flat row numbers, the walk from node to node and the general interface must agree
// on every shown node.
void expectFlatRowsAgree(const TGamesTreeModel &model)
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

// Steps: "join:bob>bob - x" (the player in the game, which is made when not listed),
// "end:bob - x" (the game goes), "leave:bob" (the player goes), "drop:text" (the game and
// the player of that text go), "close:game", "open:game".
void run(TGamesTreeModel &model, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QString kind = step.section(QLatin1Char(':'), 0, 0);
        const QString what = step.section(QLatin1Char(':'), 1);
        if (kind == QLatin1String("join")) {
            const QString game = what.section(QLatin1Char('>'), 1);
            model.addPlayer(model.addGame(game), what.section(QLatin1Char('>'), 0, 0));
        } else if (kind == QLatin1String("end")) {
            model.remove(model.game(what));
        } else if (kind == QLatin1String("leave")) {
            model.remove(model.player(what));
        } else if (kind == QLatin1String("drop")) {
            model.removeText(what);
        } else if (kind == QLatin1String("close") || kind == QLatin1String("open")) {
            model.setExpanded(model.game(what), kind == QLatin1String("open"));
        } else {
            FAIL() << "unknown step " << step.toStdString();
        }
    }
}

struct GamesCase
{
    const char *name;
    QStringList steps;
    QStringList shown;
};

void PrintTo(const GamesCase &c, std::ostream *os)
{
    *os << c.name;
}

class GamesTreeModelTest : public ::testing::TestWithParam<GamesCase>
{
};

} // namespace

TEST_P(GamesTreeModelTest, PlacesGamesAndPlayersAndNumbersTheShownRows)
{
    TGamesTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    run(model, GetParam().steps);
    EXPECT_EQ(walkShown(model), GetParam().shown);
    expectFlatRowsAgree(model);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GamesTreeModelTest,
    ::testing::Values(
        GamesCase{"games and their players sorted with letter case, capitals first",
                  {"join:bob>bob - x", "join:amy>bob - x", "join:Carl>bob - x", "join:Ann>Ann - x"},
                  {"Ann - x", " Ann", "bob - x", " Carl", " amy", " bob"}},
        GamesCase{"a player moving between games shows under the new game only",
                  {"join:bob>bob - x", "join:cy>bob - x", "join:dan>dan - x", "join:cy>dan - x"},
                  {"bob - x", " bob", "dan - x", " cy", " dan"}},
        GamesCase{"joining the same game again changes nothing",
                  {"join:bob>bob - x", "join:cy>bob - x", "join:cy>bob - x"},
                  {"bob - x", " bob", " cy"}},
        GamesCase{"a game ending takes its players with it",
                  {"join:bob>bob - x", "join:cy>bob - x", "join:dan>dan - x", "end:bob - x",
                   "join:bob>dan - x"},
                  {"dan - x", " bob", " dan"}},
        GamesCase{"a player leaving leaves the game listed",
                  {"join:bob>bob - x", "join:cy>bob - x", "leave:bob", "leave:nobody"},
                  {"bob - x", " cy"}},
        GamesCase{"dropping a text takes the game and the player of that name",
                  {"join:bob>bob - x", "join:cy>bob - x", "join:eve>eve - x", "drop:bob - x",
                   "drop:eve", "drop:nothing"},
                  {"eve - x"}},
        GamesCase{"a closed game hides its players and keeps the rows below in order",
                  {"join:bob>bob - x", "join:cy>bob - x", "join:dan>dan - x", "close:bob - x",
                   "join:amy>bob - x"},
                  {"bob - x", "dan - x", " dan"}},
        GamesCase{"opening again shows who joined while closed",
                  {"join:bob>bob - x", "close:bob - x", "join:amy>bob - x", "open:bob - x"},
                  {"bob - x", " amy", " bob"}}));

TEST(GamesTreeModelLookTest, GamesAreBoldAndPlayersHaveNoRowsOfTheirOwn)
{
    TGamesTreeModel model;
    run(model, {"join:bob>bob - x"});
    const QModelIndex game = model.game(QStringLiteral("bob - x"));
    const QModelIndex bob = model.player(QStringLiteral("bob"));
    EXPECT_TRUE(game.data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(bob.data(Qt::FontRole).isValid());
    EXPECT_TRUE(model.flags(bob).testFlag(Qt::ItemNeverHasChildren));
    EXPECT_FALSE(model.flags(game).testFlag(Qt::ItemNeverHasChildren));
    EXPECT_EQ(model.find(QStringLiteral("bob - x")), game);
    EXPECT_EQ(model.find(QStringLiteral("bob")), bob);
    // Only games open and close.
    model.setExpanded(bob, true);
    EXPECT_FALSE(model.isExpanded(bob));
    // Held indexes follow a player while games come above and die with the player.
    const QPersistentModelIndex held(bob);
    run(model, {"join:amy>amy - x", "join:al>amy - x"});
    EXPECT_EQ(model.text(held), "bob");
    EXPECT_EQ(model.flatRow(held), 4);
    run(model, {"end:bob - x"});
    EXPECT_FALSE(held.isValid());
    EXPECT_FALSE(model.player(QStringLiteral("bob")).isValid());
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.player(QStringLiteral("al")).isValid());
    EXPECT_FALSE(model.game(QStringLiteral("amy - x")).isValid());
}

namespace {

// The games tree on screen, many games of a few players each, with a delegate that
// records what it draws.
class GamesTreeViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tree.setItemDelegate(new TOwnerDrawDelegate(
            [this](QPainter *, const QStyleOptionViewItem &, const QModelIndex &index) {
                drawn << index.data().toString();
            },
            &tree));
        for (int g = 0; g < kGames; ++g) {
            const QModelIndex game = games()->addGame(gameOf(g));
            games()->addPlayer(game, host(g));
            games()->addPlayer(game, host(g) + QStringLiteral("-guest"));
        }
        tree.resize(240, 12 * tree.rowHeight() + 2 * tree.frameWidth());
        tree.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
        QCoreApplication::processEvents();
        drawn.clear();
    }
    TGamesTreeModel *games() const { return tree.games(); }
    static QString host(int g) { return QStringLiteral("h%1").arg(g, 4, 10, QLatin1Char('0')); }
    static QString gameOf(int g) { return host(g) + QStringLiteral(" - Plumbrix"); }
    QString topText() const { return tree.indexAt(QPoint(2, 1)).data().toString(); }

    static constexpr int kGames = 500;
    TGamesTree tree;
    QStringList drawn;
};

} // namespace

TEST_F(GamesTreeViewTest, GamesStartAtTheLeftEdgeAndTheirPlayersOneStepIn)
{
    const QModelIndex game = games()->game(gameOf(0));
    const QModelIndex player = games()->player(host(0));
    EXPECT_EQ(tree.visualRect(game).left(), 0);
    EXPECT_GT(tree.visualRect(player).left(), 0);
    EXPECT_EQ(tree.visualRect(player).top(), tree.rowHeight());
    EXPECT_EQ(tree.indexAt(QPoint(1, 1)), game);
    EXPECT_EQ(tree.indexAt(QPoint(1, tree.rowHeight() + 1)), player);
}

TEST_F(GamesTreeViewTest, RowsComingAboveKeepTheRowsInSightAndTheSelection)
{
    tree.scrollTo(games()->game(gameOf(200)), QAbstractItemView::PositionAtTop);
    tree.setCurrentIndex(games()->player(host(201)));
    QCoreApplication::processEvents();
    ASSERT_EQ(topText(), gameOf(200));
    drawn.clear();

    // A game with players comes above, a player joins a game above, a game above ends.
    run(*games(), {"join:a000>a000 - Plumbrix", "join:a001>a000 - Plumbrix",
                   "join:zed>h0003 - Plumbrix", "end:h0010 - Plumbrix"});
    QCoreApplication::processEvents();
    EXPECT_EQ(topText(), gameOf(200));
    EXPECT_EQ(tree.currentIndex().data().toString(), host(201));
    EXPECT_TRUE(tree.selectionModel()->isSelected(tree.currentIndex()));
    EXPECT_TRUE(drawn.isEmpty()) << drawn.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(tree.indexAt(tree.visualRect(tree.currentIndex()).center()), tree.currentIndex());

    // The last row stays reachable.
    tree.verticalScrollBar()->setValue(tree.verticalScrollBar()->maximum());
    EXPECT_EQ(tree.indexAt(QPoint(40, tree.viewport()->height() - 1)).data().toString(),
              host(kGames - 1) + QStringLiteral("-guest"));
}

TEST_F(GamesTreeViewTest, ADoubleClickOrEnterActivatesAndLeavesTheGameOpen)
{
    QSignalSpy activated(&tree, &QAbstractItemView::activated);
    const QModelIndex game = games()->game(gameOf(1));
    const QRect rect = tree.visualRect(game);
    ASSERT_TRUE(tree.viewport()->rect().contains(rect));
    // No branch mark: a press at the left edge picks the game and does not close it.
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, QPoint(2, rect.center().y()));
    EXPECT_EQ(tree.currentIndex(), game);
    EXPECT_TRUE(tree.isExpanded(game));
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated.first().first().value<QModelIndex>(), game);
    EXPECT_TRUE(tree.isExpanded(game));

    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Down);
    EXPECT_EQ(tree.currentIndex(), games()->player(host(1)));
    QTest::keyClick(&tree, Qt::Key_Left);
    EXPECT_EQ(tree.currentIndex(), game);
    QTest::keyClick(&tree, Qt::Key_Return);
    ASSERT_EQ(activated.size(), 2);
    EXPECT_EQ(activated.last().first().value<QModelIndex>(), game);
    QTest::keyClicks(&tree, QStringLiteral("h0007"));
    EXPECT_EQ(tree.currentIndex().data().toString(), gameOf(7));
}

TEST_F(GamesTreeViewTest, AScreenReaderSeesTheShownNodes)
{
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(&tree);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::Tree);
    EXPECT_EQ(view->childCount(), 3 * kGames);
    QAccessibleInterface *second = view->child(3);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(QAccessible::Name), gameOf(1));
    EXPECT_TRUE(second->state().expanded);
    EXPECT_EQ(view->child(4)->text(QAccessible::Name), host(1));
    run(*games(), {"join:a>a - Plumbrix"});
    EXPECT_EQ(view->indexOfChild(second), 5);
    EXPECT_EQ(view->childCount(), 3 * kGames + 2);
}
