#include "tlimithint.h"

#include <QLineEdit>
#include <QTimer>
#include <QToolTip>

TLimitHint::TLimitHint(const QString &hint, const QString &refusal, QWidget *parent)
    : QLabel(hint, parent), m_refusal(refusal), m_flash(new QTimer(this))
{
    setProperty("role", QStringLiteral("muted"));
    setTextFormat(Qt::PlainText);
    m_flash->setSingleShot(true);
    m_flash->setInterval(kFlashMs);
    connect(m_flash, &QTimer::timeout, this, [this] { setFlashing(false); });
}

void TLimitHint::watch(QLineEdit *edit)
{
    connect(edit, &QLineEdit::inputRejected, this, [this, edit] { refused(edit); });
}

bool TLimitHint::flashing() const
{
    return m_flash->isActive();
}

void TLimitHint::refused(QLineEdit *edit)
{
    setFlashing(true);
    m_flash->start();
    const QRect area = edit->rect();
    QToolTip::showText(edit->mapToGlobal(QPoint(0, area.height())), m_refusal, edit, area,
                       kFlashMs);
}

void TLimitHint::setFlashing(bool on)
{
    // A sheet of its own outranks the application's muted colour for the moment.
    setStyleSheet(on ? QStringLiteral("color: #b3261e; font-weight: 600;") : QString());
}
