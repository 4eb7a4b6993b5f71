#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>

#include <cstdint>
#include <optional>

// A display colour as the lobby stores and sends it: 0x00BBGGRR (red in the lowest
// byte), or a system colour (0x80000000 | index) or "none". Its text form is a colour
// name ("clBlack", "clScrollBar", ...) when it has one, otherwise "$" and eight
// upper-case hexadecimal digits.
class TColor
{
public:
    static constexpr std::int32_t clBlack = 0x000000;
    static constexpr std::int32_t clMaroon = 0x000080;
    static constexpr std::int32_t clGreen = 0x008000;
    static constexpr std::int32_t clOlive = 0x008080;
    static constexpr std::int32_t clNavy = 0x800000;
    static constexpr std::int32_t clPurple = 0x800080;
    static constexpr std::int32_t clTeal = 0x808000;
    static constexpr std::int32_t clGray = 0x808080;
    static constexpr std::int32_t clSilver = 0xC0C0C0;
    static constexpr std::int32_t clRed = 0x0000FF;
    static constexpr std::int32_t clLime = 0x00FF00;
    static constexpr std::int32_t clYellow = 0x00FFFF;
    static constexpr std::int32_t clBlue = 0xFF0000;
    static constexpr std::int32_t clFuchsia = 0xFF00FF;
    static constexpr std::int32_t clAqua = 0xFFFF00;
    static constexpr std::int32_t clWhite = 0xFFFFFF;
    static constexpr std::int32_t clSystemColor = static_cast<std::int32_t>(0x80000000u);
    static constexpr std::int32_t clNone = 0x1FFFFFFF;

    constexpr TColor() = default;
    constexpr explicit TColor(std::int32_t value) : m_value(value) {}

    constexpr std::int32_t value() const { return m_value; }

    // A colour name (any case), "$" with up to eight hexadecimal digits, or a decimal
    // number; nothing else.
    static std::optional<TColor> fromText(QByteArrayView text);
    // The colour of a received chat line: anything unreadable shows in navy.
    static TColor chatColor(QByteArrayView text);
    QByteArray toText() const;

    QColor toQColor() const;
    static TColor fromQColor(const QColor &color);

    constexpr bool operator==(const TColor &) const = default;

private:
    std::int32_t m_value = clBlack;
};
