#include "tflatpanel.h"

#include <QStyle>

TFlatPanel::TFlatPanel(const QString &kind, QWidget *parent) : QFrame(parent), m_kind(kind)
{
    // Style sheet backgrounds of plain QWidget subclasses need this attribute.
    setAttribute(Qt::WA_StyledBackground, true);
}

void TFlatPanel::setKind(const QString &kind)
{
    m_kind = kind;
    style()->unpolish(this);
    style()->polish(this);
    update();
}
