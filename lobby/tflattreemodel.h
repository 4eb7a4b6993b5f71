#pragma once

#include <QAbstractItemModel>

// A tree model that knows which of its nodes are expanded and can tell, from counts it
// keeps, where a node stands in the flat list of shown nodes and which node stands at a
// place in it. A TFlatTree draws such a model with rows of one height, so that a change
// costs the look-up of a flat row number instead of laying out every shown node again.
class TFlatTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    using QAbstractItemModel::QAbstractItemModel;

    // The text a node is drawn and found by.
    virtual QString text(const QModelIndex &index) const = 0;

    virtual bool isExpanded(const QModelIndex &index) const = 0;
    // Emits expansionChanged when the state changes.
    virtual void setExpanded(const QModelIndex &index, bool expanded) = 0;
    // How many ancestors the node has (a top node 0).
    virtual int depth(const QModelIndex &index) const = 0;

    // The nodes shown: the top nodes, and the children of every expanded node whose
    // ancestors are all expanded.
    virtual int shownRows() const = 0;
    // The node's place among the shown nodes, or -1 when an ancestor is collapsed.
    virtual int flatRow(const QModelIndex &index) const = 0;
    // The node shown at that place, or an invalid index.
    virtual QModelIndex atFlatRow(int row) const = 0;
    // The shown node after this one, or an invalid index.
    virtual QModelIndex nextShown(const QModelIndex &index) const = 0;
    // How many rows the node takes among the shown nodes: itself and its shown descendants.
    virtual int shownRowsOf(const QModelIndex &index) const = 0;
    // How many rows the node's descendants take while the node is expanded.
    virtual int rowsUnder(const QModelIndex &index) const = 0;

signals:
    void expansionChanged(const QModelIndex &index, bool expanded);
};
