#pragma once

#include <QRect>
#include <QScrollBar>

// A scroll bar that is drawn again only when what it shows changes: the slider's place
// and length in pixels, whether it can move either way, whether it is enabled. A list
// of thousands of rows changes its range with every row that comes or goes, and a
// general scroll bar draws itself again each time, although one row more or less
// rarely moves the slider by a pixel.
class TQuietScrollBar final : public QScrollBar
{
    Q_OBJECT
public:
    explicit TQuietScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool enabled = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    // What the last painting showed; none before the first.
    Look m_drawn;
    bool m_painted = false;
};
