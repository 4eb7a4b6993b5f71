#pragma once

#include <QAccessibleInterface>
#include <QPersistentModelIndex>
#include <QPointer>

class TFlatTree;

// What a screen reader sees of one node of a TFlatTree: an item of the tree with the
// node's text, whether it can be opened and is open, selected or has the focus.
class TFlatNodeAccessible final : public QAccessibleInterface
{
public:
    TFlatNodeAccessible(TFlatTree *tree, const QModelIndex &node);

    const QPersistentModelIndex &node() const { return m_node; }

    bool isValid() const override;
    QObject *object() const override;
    QWindow *window() const override;
    QAccessibleInterface *focusChild() const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text t, const QString &text) override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;

private:
    QPointer<TFlatTree> m_tree;
    QPersistentModelIndex m_node;
};
