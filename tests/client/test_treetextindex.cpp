#include "ttreetextindex.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

const QStringList kTexts{"a", "b", "A", "bob - alpha", "c"};

QList<QTreeWidgetItem *> allNodes(QTreeWidget &tree)
{
    QList<QTreeWidgetItem *> out;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it)
        out << *it;
    return out;
}

// The index must answer as the tree's own search does (the first match, parents before
// children), whatever changed the tree: few texts, so that many nodes share one.
TEST(TreeTextIndexTest, AnswersAsTheTreesOwnSearchThroughEveryKindOfChange)
{
    QTreeWidget tree;
    auto *index = new TTreeTextIndex(&tree);
    std::mt19937 random(11);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto text = [&] { return kTexts[pick(static_cast<int>(kTexts.size()))]; };

    for (int step = 0; step < 3000; ++step) {
        const QList<QTreeWidgetItem *> nodes = allNodes(tree);
        QTreeWidgetItem *node = nodes.isEmpty() ? nullptr : nodes[pick(nodes.size())];
        switch (pick(node ? 9 : 2)) {
        case 0:
            tree.insertTopLevelItem(pick(tree.topLevelItemCount() + 1),
                                    new QTreeWidgetItem(QStringList{text()}));
            break;
        case 1: {
            // A node that brings children of its own.
            auto *root = new QTreeWidgetItem(QStringList{text()});
            root->addChild(new QTreeWidgetItem(QStringList{text()}));
            root->addChild(new QTreeWidgetItem(QStringList{text()}));
            tree.addTopLevelItem(root);
            break;
        }
        case 2:
            node->insertChild(pick(node->childCount() + 1),
                              new QTreeWidgetItem(QStringList{text()}));
            break;
        case 3:
        case 4:
            delete node; // its children with it
            break;
        case 5:
            node->setText(0, text());
            break;
        case 6:
            node->setToolTip(0, text()); // a change that is not the text
            break;
        case 7: {
            // Children taken out and put back in another order.
            QList<QTreeWidgetItem *> children = node->takeChildren();
            std::reverse(children.begin(), children.end());
            node->addChildren(children);
            break;
        }
        default:
            if (pick(40) == 0)
                tree.clear();
            else
                tree.sortItems(0, pick(2) ? Qt::AscendingOrder : Qt::DescendingOrder);
            break;
        }
        for (const QString &t : kTexts) {
            const QList<QTreeWidgetItem *> found =
                tree.findItems(t, Qt::MatchExactly | Qt::MatchCaseSensitive | Qt::MatchRecursive);
            ASSERT_EQ(index->first(t), found.value(0))
                << "step " << step << " text " << t.toStdString();
        }
    }
    EXPECT_EQ(index->first(QStringLiteral("missing")), nullptr);
}

} // namespace
