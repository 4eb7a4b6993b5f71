#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QModelIndex;
class QTreeWidget;
class QTreeWidgetItem;

// The nodes of a tree widget by their text (column 0), kept up to date from the tree's
// own change signals, so that finding a node never walks the tree, whoever changed it.
// It lives as a child of the tree and forgets every node when the tree is emptied.
class TTreeTextIndex final : public QObject
{
    Q_OBJECT
public:
    explicit TTreeTextIndex(QTreeWidget *tree);

    // The first node with exactly that text in the order the tree shows its nodes
    // (a parent before its children), or nullptr.
    QTreeWidgetItem *first(const QString &text) const;
    // How many nodes have exactly that text.
    qsizetype count(const QString &text) const;

private:
    QTreeWidgetItem *itemOf(const QModelIndex &index) const;
    void addRows(const QModelIndex &parent, int first, int last);
    void removeRows(const QModelIndex &parent, int first, int last);
    void textsChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void add(QTreeWidgetItem *node);
    void remove(QTreeWidgetItem *node);
    void rebuild();

    QTreeWidget *m_tree;
    QHash<QString, QList<QTreeWidgetItem *>> m_byText;
    QHash<QTreeWidgetItem *, QString> m_textOf;
};
