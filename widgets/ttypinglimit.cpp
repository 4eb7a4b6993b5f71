#include "ttypinglimit.h"

#include <QLineEdit>

#include <algorithm>

TTypingLimit::TTypingLimit(QLineEdit *edit, qsizetype limit)
    : QValidator(edit), m_limit(limit), m_allowed(limit)
{
}

void TTypingLimit::allow(qsizetype length)
{
    m_allowed = std::max(m_limit, length);
}

void TTypingLimit::setText(QLineEdit *edit, const QString &text)
{
    if (auto *limit = qobject_cast<const TTypingLimit *>(edit->validator()))
        const_cast<TTypingLimit *>(limit)->allow(text.size());
    edit->setText(text);
}

QValidator::State TTypingLimit::validate(QString &input, int &) const
{
    if (input.size() > m_allowed)
        return Invalid;
    // A long stored value may shrink but never grow back past the limit.
    m_allowed = std::max(m_limit, input.size());
    return Acceptable;
}
