#include "ttreetextindex.h"

#include <QTreeWidget>

#include <algorithm>

namespace {

// Where a node stands: its row under each of its ancestors, from the top.
QList<int> pathOf(const QTreeWidgetItem *node)
{
    QList<int> path;
    for (const QTreeWidgetItem *n = node; n; n = n->parent()) {
        const QTreeWidgetItem *parent = n->parent();
        path.prepend(parent
                         ? parent->indexOfChild(const_cast<QTreeWidgetItem *>(n))
                         : n->treeWidget()->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(n)));
    }
    return path;
}

} // namespace

TTreeTextIndex::TTreeTextIndex(QTreeWidget *tree) : QObject(tree), m_tree(tree)
{
    QAbstractItemModel *model = tree->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &TTreeTextIndex::addRows);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TTreeTextIndex::removeRows);
    connect(model, &QAbstractItemModel::dataChanged, this, &TTreeTextIndex::textsChanged);
    // Emptying the tree deletes its nodes without reporting them one by one.
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_byText.clear();
        m_textOf.clear();
    });
    connect(model, &QAbstractItemModel::modelReset, this, &TTreeTextIndex::rebuild);
    rebuild();
}

QTreeWidgetItem *TTreeTextIndex::first(const QString &text) const
{
    const auto found = m_byText.constFind(text);
    if (found == m_byText.constEnd() || found->isEmpty())
        return nullptr;
    if (found->size() == 1)
        return found->first();
    // Several nodes share the text (rare): the tree's order decides.
    QTreeWidgetItem *best = nullptr;
    QList<int> bestPath;
    for (QTreeWidgetItem *node : *found) {
        QList<int> path = pathOf(node);
        if (!best || std::lexicographical_compare(path.begin(), path.end(), bestPath.begin(),
                                                  bestPath.end())) {
            best = node;
            bestPath = std::move(path);
        }
    }
    return best;
}

qsizetype TTreeTextIndex::count(const QString &text) const
{
    const auto found = m_byText.constFind(text);
    return found == m_byText.constEnd() ? 0 : found->size();
}

QTreeWidgetItem *TTreeTextIndex::itemOf(const QModelIndex &index) const
{
    if (!index.isValid())
        return m_tree->invisibleRootItem();
    QTreeWidgetItem *parent = itemOf(index.parent());
    return parent ? parent->child(index.row()) : nullptr;
}

void TTreeTextIndex::addRows(const QModelIndex &parent, int first, int last)
{
    QTreeWidgetItem *under = itemOf(parent);
    for (int row = first; under && row <= last; ++row)
        add(under->child(row));
}

void TTreeTextIndex::removeRows(const QModelIndex &parent, int first, int last)
{
    QTreeWidgetItem *under = itemOf(parent);
    for (int row = first; under && row <= last; ++row)
        remove(under->child(row));
}

void TTreeTextIndex::textsChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (topLeft.column() > 0)
        return;
    QTreeWidgetItem *under = itemOf(topLeft.parent());
    for (int row = topLeft.row(); under && row <= bottomRight.row(); ++row) {
        QTreeWidgetItem *node = under->child(row);
        const auto known = m_textOf.constFind(node);
        if (!node || known == m_textOf.constEnd() || *known == node->text(0))
            continue;
        // Only this node's text changed: its children keep theirs.
        QList<QTreeWidgetItem *> &old = m_byText[*known];
        old.removeOne(node);
        if (old.isEmpty())
            m_byText.remove(*known);
        const QString text = node->text(0);
        m_textOf.insert(node, text);
        m_byText[text].append(node);
    }
}

void TTreeTextIndex::add(QTreeWidgetItem *node)
{
    if (!node || m_textOf.contains(node))
        return;
    const QString text = node->text(0);
    m_textOf.insert(node, text);
    m_byText[text].append(node);
    for (int i = 0; i < node->childCount(); ++i)
        add(node->child(i));
}

void TTreeTextIndex::remove(QTreeWidgetItem *node)
{
    if (!node)
        return;
    const auto known = m_textOf.constFind(node);
    if (known != m_textOf.constEnd()) {
        const auto list = m_byText.find(*known);
        if (list != m_byText.end()) {
            list->removeOne(node);
            if (list->isEmpty())
                m_byText.erase(list);
        }
        m_textOf.erase(known);
    }
    for (int i = 0; i < node->childCount(); ++i)
        remove(node->child(i));
}

void TTreeTextIndex::rebuild()
{
    m_byText.clear();
    m_textOf.clear();
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        add(m_tree->topLevelItem(i));
}
