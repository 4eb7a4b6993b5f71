#pragma once

#include "tcolor.h"

#include <QToolButton>

#include <array>

class QFrame;

// A button that shows a colour and, when pressed, opens a palette of twenty colours in
// four columns and five rows with an "&Other" button for the full colour dialog. The
// chosen colour becomes the button's colour.
class TColorButton : public QToolButton
{
    Q_OBJECT
public:
    // The palette in the lobby's colour values (0x00BBGGRR), row by row.
    static constexpr std::array<std::int32_t, 20> kPalette = {
        0,     8421631,  48896,    12615808, 12572607, 8388863,  127,
        32512, 13369344, 15712159, 12566463, 56797,    13026816, 12651933,
        27865, 8355711,  32639,    8355584,  8323199,  21156};
    // The colour the "&Other" dialog starts from.
    static constexpr std::int32_t kOtherStart = 13678521;

    explicit TColorButton(QWidget *parent = nullptr);

    TColor color() const { return m_color; }
    void setColor(TColor color);

    // The palette popup while it is open (tests pick from it), null otherwise.
    QFrame *popup() const { return m_popup; }

signals:
    // Whenever the colour changes, chosen or set.
    void colorChanged(TColor color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showPalette();
    void choose(TColor color);
    void chooseOther();

    TColor m_color;
    QFrame *m_popup = nullptr;
};
