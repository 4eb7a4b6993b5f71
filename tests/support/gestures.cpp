#include "gestures.h"

#include "control.h"
#include "tplayerlist.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QPoint centreOf(QAbstractItemView *view, const QModelIndex &index)
{
    if (!index.isValid())
        return {-1, -1};
    view->scrollTo(index);
    const QRect rect = view->visualRect(index);
    return rect.isValid() && view->viewport()->rect().contains(rect.center()) ? rect.center()
                                                                              : QPoint(-1, -1);
}

QModelIndex playerIndex(TPlayerList *list, const QString &name)
{
    const int row = list->entries()->findName(name);
    return row < 0 ? QModelIndex() : list->model()->index(row, 0);
}

} // namespace

void clickButton(const QObject *root, const char *name)
{
    auto *button = control<QAbstractButton>(root, name);
    if (!button->isVisible() || !button->isEnabled()) {
        ADD_FAILURE() << name << " is " << (button->isVisible() ? "disabled" : "hidden");
        return;
    }
    QTest::mouseClick(button, Qt::LeftButton);
}

void typeLine(QWidget *edit, const QString &text)
{
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

bool clickIndex(QAbstractItemView *view, const QModelIndex &index, Qt::MouseButton button)
{
    const QPoint at = centreOf(view, index);
    if (at.x() < 0)
        return false;
    QTest::mousePress(view->viewport(), button, {}, at);
    QTest::mouseRelease(view->viewport(), button, {}, at);
    return true;
}

bool doubleClickIndex(QAbstractItemView *view, const QModelIndex &index)
{
    const QPoint at = centreOf(view, index);
    if (at.x() < 0)
        return false;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    return true;
}

void clickNowhere(QAbstractItemView *view)
{
    const QPoint below(5, view->viewport()->height() - 3);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, below);
}

bool clickPlayer(TPlayerList *list, const QString &name, Qt::MouseButton button)
{
    return clickIndex(list, playerIndex(list, name), button);
}

bool doubleClickPlayer(TPlayerList *list, const QString &name)
{
    return doubleClickIndex(list, playerIndex(list, name));
}
