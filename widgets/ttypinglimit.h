#pragma once

#include <QValidator>

class QLineEdit;

// A length limit on what the user types into an edit, leaving text that the program
// puts there untouched: a stored value longer than the limit is kept whole, and the
// user may still shorten it.
class TTypingLimit : public QValidator
{
    Q_OBJECT
public:
    TTypingLimit(QLineEdit *edit, int limit);

    State validate(QString &input, int &pos) const override;

private:
    QLineEdit *m_edit;
    int m_limit;
};
