#pragma once

#include <QStringList>

class QListWidget;
class QTextDocument;
class QAbstractItemModel;

// What a user reads off a widget, as plain text for comparing.

// The text of each line (block) of a document.
QStringList documentLines(const QTextDocument *document);
// Each top-level node of a tree model with its children, as "root[child,child]", in order.
QStringList treeLines(const QAbstractItemModel *tree);
// The text of each item of a list, in display order.
QStringList listLines(const QListWidget *list);
