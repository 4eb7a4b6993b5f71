#pragma once

#include <QStringList>

class QListWidget;
class QTextDocument;
class QTreeWidget;

// What a user reads off a widget, as plain text for comparing.

// The text of each line (block) of a document.
QStringList documentLines(const QTextDocument *document);
// Each top-level item of a tree with its children, as "root[child,child]", in display order.
QStringList treeLines(const QTreeWidget *tree);
// The text of each item of a list, in display order.
QStringList listLines(const QListWidget *list);
