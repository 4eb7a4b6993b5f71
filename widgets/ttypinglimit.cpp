#include "ttypinglimit.h"

#include <QLineEdit>

TTypingLimit::TTypingLimit(QLineEdit *edit, int limit)
    : QValidator(edit), m_edit(edit), m_limit(limit)
{
}

QValidator::State TTypingLimit::validate(QString &input, int &) const
{
    if (input.size() <= m_limit || input.size() < m_edit->text().size())
        return Acceptable;
    return Invalid;
}
