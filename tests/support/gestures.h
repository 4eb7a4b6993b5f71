#pragma once

#include <QString>
#include <Qt>

class QAbstractItemView;
class QObject;
class QModelIndex;
class QWidget;
class TPlayerList;

// What a user does with the mouse on the lobby's lists, sent as real mouse events to the
// row on screen, so that the view's own handling (press, activation) runs as it does for
// a user.

// A left click on the button of a window found by its objectName; the test fails when the
// button is hidden or disabled, where a user could not click it.
void clickButton(const QObject *root, const char *name);

// Types a line into an edit and presses Enter, as a user sends it.
void typeLine(QWidget *edit, const QString &text);

// Presses and releases on an item of a view (scrolled into sight first); false when the
// item is not on screen.
bool clickIndex(QAbstractItemView *view, const QModelIndex &index,
                Qt::MouseButton button = Qt::LeftButton);
// A double click on an item, after the single click a user's first press makes.
bool doubleClickIndex(QAbstractItemView *view, const QModelIndex &index);
// A press where no item is.
void clickNowhere(QAbstractItemView *view);

// The same on the row of a named player in a players list; false when not listed.
bool clickPlayer(TPlayerList *list, const QString &name, Qt::MouseButton button = Qt::LeftButton);
bool doubleClickPlayer(TPlayerList *list, const QString &name);
