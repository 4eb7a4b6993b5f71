#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// Holds a label whose text changes often (a count in a heading) at a size that does not
// follow its text. A label tells its layout that its size may have changed with every new
// text, and the layout then lays out the whole window again; held here, the label keeps
// the size the slot was given, so that a new text only repaints the label. The slot asks
// the layout for the room of the widest text it expects, given when it is made; a longer
// text is cut at the slot's edge.
class TLabelSlot final : public QWidget
{
    Q_OBJECT
public:
    TLabelSlot(QLabel *label, const QString &widest, QWidget *parent = nullptr);

    QLabel *label() const { return m_label; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *m_label;
    QString m_widest;
};
