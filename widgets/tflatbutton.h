#pragma once

#include <QColor>
#include <QPushButton>

// The lobby's flat push button. Its kind picks one of the looks of the application style
// sheet (plain, accent, tab); the tag carries a small state for the handlers, as
// several buttons keep one (the tournament tab remembers whether it is showing).
class TFlatButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(QString kind READ kind WRITE setKind)
public:
    explicit TFlatButton(const QString &text = QString(), QWidget *parent = nullptr);

    QString kind() const { return m_kind; }
    // "plain" (default), "accent" for the main action of a panel, "tab" for the buttons
    // that switch between stacked panels, "link" for quiet text-only actions.
    void setKind(const QString &kind);

    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // A coloured border that overrides the style sheet's; an invalid colour removes it.
    QColor borderColor() const { return m_border; }
    void setBorderColor(const QColor &color);

private:
    QString m_kind = QStringLiteral("plain");
    QColor m_border;
    int m_tag = 0;
};
