#pragma once

#include <QAbstractButton>
#include <QPixmap>

// An on/off switch drawn as one of two pictures. Its state is its tag, 0 off and 1 on,
// which readers test for exactly 1. A click does not change the state by itself: the
// owner's click handler inverts it, so one handler serves a whole group of switches.
class TSwitch : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TSwitch(QWidget *parent = nullptr);

    int Tag() const { return m_tag; }
    void setTag(int tag);
    bool isOn() const { return m_tag == 1; }

    // Picture 0 (off) and 1 (on); without them a switch is drawn in the accent colour.
    void setPictures(const QPixmap &off, const QPixmap &on);

    QSize sizeHint() const override;

signals:
    // Whenever the state changes, by a click's handler or by code.
    void tagChanged(int tag);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_off;
    QPixmap m_on;
    int m_tag = 0;
};
