#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QPersistentModelIndex>

class TFlatTree;

// What a screen reader sees of a TFlatTree: a tree whose children are the shown
// nodes in the order they are drawn, so that the row number the view reports with a
// focus or selection event names the node it means. A node keeps its interface while it
// lives; those of nodes gone are let go as new ones are asked for.
class TFlatTreeAccessible final : public QAccessibleWidget
{
public:
    explicit TFlatTreeAccessible(TFlatTree *tree);
    ~TFlatTreeAccessible() override;

    // Makes the interface of a TFlatTree or a class made from it (for
    // QAccessible::installFactory).
    static QAccessibleInterface *create(const QString &className, QObject *object);

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

private:
    TFlatTree *tree() const;
    QAccessibleInterface *nodeInterface(const QModelIndex &node) const;
    void forgetGoneNodes() const;

    struct Known
    {
        QPersistentModelIndex node;
        QAccessible::Id id = 0;
    };
    // By the node's identity (its model pointer), which outlives moves of its row.
    mutable QHash<const void *, Known> m_nodes;
    mutable qsizetype m_sweepAt = 128;
};
