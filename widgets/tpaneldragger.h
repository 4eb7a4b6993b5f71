#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

class QWidget;

// Lets the user drag a floating panel by the panel itself or by its title parts. On
// release the panel is kept inside its parent: at least 4 pixels from the left and
// top, and pulled back 4 pixels inside the right and bottom edges when dragged past.
class TPanelDragger : public QObject
{
    Q_OBJECT
public:
    // Drags `panel`; `handles` (title picture, title label) start a drag too.
    TPanelDragger(QWidget *panel, const QList<QWidget *> &handles = {});

    // Where a panel of `panel`'s size at `panel`'s place ends up inside `area`.
    static QPoint keptInside(const QRect &panel, const QSize &area);

    bool dragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_panel;
    QPoint m_pressGlobal;
    QPoint m_pressPanelPos;
    bool m_dragging = false;
};
