#include "widgettext.h"

#include <QAbstractItemModel>
#include <QListWidget>
#include <QTextBlock>
#include <QTextDocument>

QStringList documentLines(const QTextDocument *document)
{
    QStringList out;
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}

QStringList treeLines(const QAbstractItemModel *tree)
{
    QStringList out;
    for (int i = 0; i < tree->rowCount(); ++i) {
        const QModelIndex root = tree->index(i, 0);
        QStringList children;
        for (int j = 0; j < tree->rowCount(root); ++j)
            children << tree->index(j, 0, root).data().toString();
        out << root.data().toString() + QLatin1Char('[') + children.join(QLatin1Char(',')) +
                   QLatin1Char(']');
    }
    return out;
}

QStringList listLines(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}
