#include "tcolorbutton.h"

#include <QColorDialog>
#include <QFrame>
#include <QGridLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QVBoxLayout>

TColorButton::TColorButton(QWidget *parent) : QToolButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(64, 26);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QToolButton::clicked, this, &TColorButton::showPalette);
}

void TColorButton::setColor(TColor color)
{
    if (color == m_color && !toolTip().isEmpty())
        return;
    m_color = color;
    setToolTip(QString::fromLatin1(color.toText()));
    update();
    emit colorChanged(color);
}

void TColorButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF swatch = QRectF(rect()).adjusted(6, 5, -6, -5);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.setBrush(m_color.toQColor());
    painter.drawRoundedRect(swatch, 3, 3);
}

void TColorButton::showPalette()
{
    if (m_popup)
        return;
    auto *popup = new QFrame(this, Qt::Popup);
    popup->setObjectName(QStringLiteral("colorpalette"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setFrameShape(QFrame::StyledPanel);
    auto *outer = new QVBoxLayout(popup);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSpacing(8);
    auto *grid = new QGridLayout;
    grid->setSpacing(4);
    for (std::size_t i = 0; i < kPalette.size(); ++i) {
        const TColor c(kPalette[i]);
        auto *swatch = new QPushButton(popup);
        swatch->setObjectName(QStringLiteral("swatch%1").arg(i));
        swatch->setFixedSize(28, 22);
        swatch->setToolTip(QString::fromLatin1(c.toText()));
        swatch->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid "
                                             "rgba(0,0,0,60); border-radius: 3px; }"
                                             "QPushButton:hover { border: 2px solid #1f4fb8; }")
                                  .arg(c.toQColor().name()));
        connect(swatch, &QPushButton::clicked, this, [this, c] { choose(c); });
        grid->addWidget(swatch, static_cast<int>(i / 4), static_cast<int>(i % 4));
    }
    outer->addLayout(grid);
    auto *other = new QPushButton(tr("&Other"), popup);
    other->setObjectName(QStringLiteral("button_other"));
    connect(other, &QPushButton::clicked, this, &TColorButton::chooseOther);
    outer->addWidget(other);
    connect(popup, &QObject::destroyed, this, [this] { m_popup = nullptr; });
    m_popup = popup;
    popup->adjustSize();
    popup->move(mapToGlobal(QPoint(0, height())));
    popup->show();
}

void TColorButton::choose(TColor color)
{
    if (m_popup)
        m_popup->close();
    setColor(color);
}

void TColorButton::chooseOther()
{
    if (m_popup)
        m_popup->close();
    // The sixteen custom slots start out white, as a fresh palette does.
    for (int i = 0; i < QColorDialog::customCount(); ++i) {
        if (!QColorDialog::customColor(i).isValid())
            QColorDialog::setCustomColor(i, Qt::white);
    }
    const QColor chosen =
        QColorDialog::getColor(TColor(kOtherStart).toQColor(), window(), tr("Color"));
    if (chosen.isValid())
        choose(TColor::fromQColor(chosen));
}
