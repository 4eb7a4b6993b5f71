#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

// Reports every mouse press on a widget (any button, on an entry or not) before the
// widget handles it: lists take the entry under the mouse before a menu opens. The
// button-aware form may take the press for itself (returning true), so the widget never
// sees it.
class TPressFilter final : public QObject
{
    Q_OBJECT
public:
    TPressFilter(QWidget *watched, std::function<void(const QPoint &)> onPress);
    TPressFilter(QWidget *watched, std::function<bool(Qt::MouseButton, const QPoint &)> onPress);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<bool(Qt::MouseButton, const QPoint &)> m_onPress;
};
