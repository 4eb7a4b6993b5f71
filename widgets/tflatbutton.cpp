#include "tflatbutton.h"

#include <QStyle>

TFlatButton::TFlatButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void TFlatButton::setKind(const QString &kind)
{
    m_kind = kind;
    // Dynamic properties only take effect in a style sheet after a re-polish.
    style()->unpolish(this);
    style()->polish(this);
    update();
}

void TFlatButton::setBorderColor(const QColor &color)
{
    m_border = color;
    setStyleSheet(color.isValid()
                      ? QStringLiteral("TFlatButton { border: 2px solid %1; }").arg(color.name())
                      : QString());
}
