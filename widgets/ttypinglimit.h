#pragma once

#include <QValidator>

class QLineEdit;

// A length limit on what the user types into an edit, leaving text that the program
// puts there untouched: a stored value longer than the limit is kept whole, and the
// user may still shorten it. The program puts such values in with setText() below; an
// edit that refused the program's own text would stop checking what is typed next.
//
// A field of a wire record (name, password, profile text) also refuses "^", "|" and
// control characters, which would shift the fields of the line that carries it.
class TTypingLimit : public QValidator
{
    Q_OBJECT
public:
    enum Kind { AnyText, FieldText };
    TTypingLimit(QLineEdit *edit, qsizetype limit, Kind kind = AnyText);

    // True when text holds nothing that would break a field of a wire line.
    static bool isFieldText(const QString &text);

    // Lets the edit hold a value of this length (never less than the limit).
    void allow(qsizetype length);
    // Puts a value into an edit, telling its TTypingLimit (if it has one) first.
    static void setText(QLineEdit *edit, const QString &text);

    State validate(QString &input, int &pos) const override;

private:
    Kind m_kind;
    qsizetype m_limit;
    mutable qsizetype m_allowed;
};
