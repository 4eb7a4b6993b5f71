#pragma once

#include <QFrame>

// A flat panel: a plain white card with a hairline border, or a quiet untinted area,
// chosen through the style sheet by its kind ("card", "area", "floating", "header").
class TFlatPanel : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QString kind READ kind WRITE setKind)
public:
    explicit TFlatPanel(const QString &kind = QStringLiteral("area"), QWidget *parent = nullptr);

    QString kind() const { return m_kind; }
    void setKind(const QString &kind);

private:
    QString m_kind;
};
