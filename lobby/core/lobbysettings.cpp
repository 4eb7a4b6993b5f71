#include "lobbysettings.h"

#include "encryptit.h"
#include "orvexutils.h"
#include "textcodec.h"

#include <QHash>

#include <optional>
#include <string_view>

namespace {

std::optional<std::int32_t> toInt(const QByteArray &value)
{
    return ostrel::ParseInt32(
        std::string_view(value.constData(), static_cast<std::size_t>(value.size())));
}

} // namespace

int LobbySettings::readInt(QByteArrayView key, int defaultValue) const
{
    const QByteArray value = read(key);
    if (value.isEmpty())
        return defaultValue;
    return toInt(value).value_or(defaultValue);
}

QList<QByteArray> LobbySettings::readList(QByteArrayView section, QByteArrayView countKey) const
{
    QList<QByteArray> entries;
    const auto last = toInt(read(countKey));
    if (!last || *last < 0)
        return entries;
    // Read the section once instead of reopening the file for every entry.
    const auto values = m_ini.ReadSectionValues(section);
    QHash<QByteArray, QByteArray> byKey;
    byKey.reserve(values.size());
    for (const auto &[key, value] : values) {
        const QByteArray k = key.toLower();
        if (!byKey.contains(k))
            byKey.insert(k, value);
    }
    for (std::int32_t i = 0; i <= *last; ++i) {
        const auto it = byKey.constFind(QByteArray::number(i));
        if (it == byKey.constEnd())
            break;
        entries << *it;
    }
    return entries;
}

void LobbySettings::writeList(QByteArrayView section, QByteArrayView countKey,
                              const QList<QByteArray> &entries)
{
    write(countKey, QByteArray::number(entries.size() - 1));
    QList<QPair<QByteArray, QByteArray>> values;
    values.reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i)
        values.append({QByteArray::number(i), entries[i]});
    m_ini.WriteSectionValues(section, values);
}

QByteArray LobbySettings::scramblePassword(const QByteArray &password)
{
    const std::string out = ostrel::Encrypt(
        std::string_view(password.constData(), static_cast<std::size_t>(password.size())),
        ostrel::kWireKey);
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

LobbyPreferences LobbySettings::readPreferences() const
{
    LobbyPreferences p;
    const int show = readInt("Show", 0);
    p.show = show >= 0 && show <= 2 ? show : 0;
    const LobbyPreferences defaults;
    for (const auto &[key, value] : LobbyPreferences::kSwitches)
        p.*value = readOnOff(key, defaults.*value);
    auto colour = [&](QByteArrayView key) {
        return TColor::fromText(read(key, "clblack")).value_or(TColor(TColor::clBlack));
    };
    p.textColor = colour("Textcolor");
    p.actionColor = colour("Actioncolor");
    p.textFont = decodeWireText(read("Textfont"));
    p.textSize = decodeWireText(read("Textsize", "8"));
    p.boxTextSize = decodeWireText(read("Boxtextsize", "8"));
    return p;
}

void LobbySettings::writePreferences(const LobbyPreferences &p)
{
    write("Show", QByteArray::number(qMax(0, p.show)));
    for (const auto &[key, value] : LobbyPreferences::kSwitches)
        write(key, p.*value ? "true" : "false");
    write("Textsize", p.textSize.toUtf8());
    write("Textfont", p.textFont.toUtf8());
    write("Boxtextsize", p.boxTextSize.toUtf8());
    write("Textcolor", p.textColor.toText());
    write("Actioncolor", p.actionColor.toText());
}
