#pragma once

#include <QLabel>
#include <QList>

class QLineEdit;
class QTimer;

// A quiet hint beside length-limited edits ("1 to 9 characters") that speaks up when one of
// them refuses a key: it turns to the warning colour for a moment and a tooltip at the edit
// says why nothing appeared. A refused key is otherwise invisible, above all in a password
// edit, where the dots give no sign that the last character was dropped.
class TLimitHint : public QLabel
{
    Q_OBJECT
public:
    TLimitHint(const QString &hint, const QString &refusal, QWidget *parent = nullptr);

    // Watches an edit for refused keys; several edits may share one hint.
    void watch(QLineEdit *edit);

    // True while the hint shows a refused key.
    bool flashing() const;
    const QString &refusal() const { return m_refusal; }

    static constexpr int kFlashMs = 1500;

private:
    void refused(QLineEdit *edit);
    void setFlashing(bool on);

    QString m_refusal;
    QTimer *m_flash;
};
