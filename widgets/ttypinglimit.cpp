#include "ttypinglimit.h"

#include <QLineEdit>

#include <algorithm>

TTypingLimit::TTypingLimit(QLineEdit *edit, qsizetype limit, Kind kind)
    : QValidator(edit), m_kind(kind), m_limit(limit), m_allowed(limit)
{
}

bool TTypingLimit::isFieldText(const QString &text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QLatin1Char('^') || c == QLatin1Char('|') || c.unicode() < 0x20 ||
               c.unicode() == 0x7f;
    });
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
    if (m_kind == FieldText && !isFieldText(input))
        return Invalid;
    if (input.size() > m_allowed)
        return Invalid;
    // A long stored value may shrink but never grow back past the limit.
    m_allowed = std::max(m_limit, input.size());
    return Acceptable;
}
