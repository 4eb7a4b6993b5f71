#include "tlistindex.h"

#include <QAbstractItemModel>

TListIndex::TListIndex(QAbstractItemModel *model, QObject *parent) : QObject(parent), m_model(model)
{
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    add(first, last, 1);
            });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    add(first, last, -1);
            });
    // Edits and resets are rare (a renamed item, a cleared list): count again.
    connect(model, &QAbstractItemModel::dataChanged, this, &TListIndex::rebuild);
    connect(model, &QAbstractItemModel::modelReset, this, &TListIndex::rebuild);
    connect(model, &QAbstractItemModel::layoutChanged, this, &TListIndex::rebuild);
    rebuild();
}

void TListIndex::add(int first, int last, int delta)
{
    for (int row = first; row <= last; ++row) {
        const QString key = m_model->index(row, 0).data().toString().toCaseFolded();
        int &n = m_counts[key];
        n += delta;
        if (n <= 0)
            m_counts.remove(key);
    }
}

void TListIndex::rebuild()
{
    m_counts.clear();
    if (m_model->rowCount() > 0)
        add(0, m_model->rowCount() - 1, 1);
}
