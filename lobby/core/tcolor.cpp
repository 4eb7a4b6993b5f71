#include "tcolor.h"

#include <array>
#include <charconv>

namespace {

struct Named
{
    const char *name;
    std::int32_t value;
};

constexpr std::int32_t sys(int index)
{
    return static_cast<std::int32_t>(0x80000000u | static_cast<unsigned>(index));
}

constexpr std::array<Named, 42> kNames = {{
    {"clBlack", TColor::clBlack},
    {"clMaroon", TColor::clMaroon},
    {"clGreen", TColor::clGreen},
    {"clOlive", TColor::clOlive},
    {"clNavy", TColor::clNavy},
    {"clPurple", TColor::clPurple},
    {"clTeal", TColor::clTeal},
    {"clGray", TColor::clGray},
    {"clSilver", TColor::clSilver},
    {"clRed", TColor::clRed},
    {"clLime", TColor::clLime},
    {"clYellow", TColor::clYellow},
    {"clBlue", TColor::clBlue},
    {"clFuchsia", TColor::clFuchsia},
    {"clAqua", TColor::clAqua},
    {"clWhite", TColor::clWhite},
    {"clScrollBar", sys(0)},
    {"clBackground", sys(1)},
    {"clActiveCaption", sys(2)},
    {"clInactiveCaption", sys(3)},
    {"clMenu", sys(4)},
    {"clWindow", sys(5)},
    {"clWindowFrame", sys(6)},
    {"clMenuText", sys(7)},
    {"clWindowText", sys(8)},
    {"clCaptionText", sys(9)},
    {"clActiveBorder", sys(10)},
    {"clInactiveBorder", sys(11)},
    {"clAppWorkSpace", sys(12)},
    {"clHighlight", sys(13)},
    {"clHighlightText", sys(14)},
    {"clBtnFace", sys(15)},
    {"clBtnShadow", sys(16)},
    {"clGrayText", sys(17)},
    {"clBtnText", sys(18)},
    {"clInactiveCaptionText", sys(19)},
    {"clBtnHighlight", sys(20)},
    {"cl3DDkShadow", sys(21)},
    {"cl3DLight", sys(22)},
    {"clInfoText", sys(23)},
    {"clInfoBk", sys(24)},
    {"clNone", TColor::clNone},
}};

// How the system colours look on screen: the classic desktop defaults, as 0xRRGGBB.
constexpr std::array<std::uint32_t, 25> kSystemRgb = {
    0xC8C8C8, 0x3A6EA5, 0x0A246A, 0x808080, 0xF0F0F0, 0xFFFFFF, 0x000000, 0x000000, 0x000000,
    0xFFFFFF, 0xD4D0C8, 0xD4D0C8, 0x808080, 0x0A246A, 0xFFFFFF, 0xD4D0C8, 0x808080, 0x808080,
    0x000000, 0xD4D0C8, 0xFFFFFF, 0x404040, 0xD4D0C8, 0x000000, 0xFFFFE1,
};

} // namespace

std::optional<TColor> TColor::fromText(QByteArrayView text)
{
    const QByteArrayView t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (const auto &n : kNames) {
        if (t.compare(QByteArrayView(n.name), Qt::CaseInsensitive) == 0)
            return TColor(n.value);
    }
    const char *first = t.data();
    const char *last = t.data() + t.size();
    if (t.front() == '$') {
        ++first;
        if (first == last || last - first > 8)
            return std::nullopt;
        std::uint32_t v = 0;
        auto [ptr, ec] = std::from_chars(first, last, v, 16);
        if (ec != std::errc() || ptr != last)
            return std::nullopt;
        return TColor(static_cast<std::int32_t>(v));
    }
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(first, last, v, 10);
    if (ec != std::errc() || ptr != last || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return TColor(static_cast<std::int32_t>(v));
}

TColor TColor::chatColor(QByteArrayView text)
{
    return fromText(text).value_or(TColor(clNavy));
}

QByteArray TColor::toText() const
{
    for (const auto &n : kNames) {
        if (n.value == m_value)
            return QByteArray(n.name);
    }
    return '$' + QByteArray::number(static_cast<std::uint32_t>(m_value), 16)
                     .toUpper()
                     .rightJustified(8, '0');
}

QColor TColor::toQColor() const
{
    const auto v = static_cast<std::uint32_t>(m_value);
    if (m_value == clNone)
        return QColor(Qt::transparent);
    if (v & 0x80000000u) {
        const auto index = v & 0xFFu;
        return index < kSystemRgb.size() ? QColor::fromRgb(kSystemRgb[index]) : QColor(Qt::black);
    }
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                  static_cast<int>((v >> 16) & 0xFF));
}

TColor TColor::fromQColor(const QColor &color)
{
    const QColor c = color.toRgb();
    return TColor(c.red() | (c.green() << 8) | (c.blue() << 16));
}
