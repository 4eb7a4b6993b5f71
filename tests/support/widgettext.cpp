#include "widgettext.h"

#include <QListWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>

QStringList documentLines(const QTextDocument *document)
{
    QStringList out;
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}

QStringList treeLines(const QTreeWidget *tree)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *root = tree->topLevelItem(i);
        QStringList children;
        for (int j = 0; j < root->childCount(); ++j)
            children << root->child(j)->text(0);
        out << root->text(0) + QLatin1Char('[') + children.join(QLatin1Char(',')) +
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
