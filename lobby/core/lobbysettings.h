#pragma once

#include "inifile.h"
#include "lobbypreferences.h"

#include <QByteArray>
#include <QList>

// The lobby's reading and writing rules on top of the settings file: the on/off rules,
// numbers with their defaults, the list sections and the scrambled password. Every call
// opens the file by its path, as the rest of the program does.
class LobbySettings
{
public:
    static constexpr QByteArrayView kSetting = "Setting";
    // Certificates the user chose to trust: "host:port" = hex SHA-256 of the certificate.
    static constexpr QByteArrayView kTrustedServers = "TrustedServers";

    explicit LobbySettings(const QString &path) : m_ini(path) {}

    IniFile &ini() { return m_ini; }
    const IniFile &ini() const { return m_ini; }

    QByteArray read(QByteArrayView key, const QByteArray &defaultValue = {}) const
    {
        return m_ini.ReadString(kSetting, key, defaultValue);
    }
    void write(QByteArrayView key, const QByteArray &value)
    {
        m_ini.WriteString(kSetting, key, value);
    }

    // A switch that is on unless its value is exactly "false" (defaultOn), or one that is
    // on only when its value is exactly "true".
    static bool onOff(const QByteArray &value, bool defaultOn)
    {
        return defaultOn ? value != "false" : value == "true";
    }
    bool readOnOff(QByteArrayView key, bool defaultOn) const
    {
        return onOff(read(key, defaultOn ? QByteArray("true") : QByteArray("false")), defaultOn);
    }
    // A decimal integer; anything else, or an absent key, gives the default.
    int readInt(QByteArrayView key, int defaultValue) const;

    // The entries "0" .. count-1 of a list section, count being one more than the index
    // stored under countKey in "Setting". A count that is not a number gives an empty
    // list; a missing entry ends the list there.
    QList<QByteArray> readList(QByteArrayView section, QByteArrayView countKey) const;
    // Writes the count key, then the section with one key per entry.
    void writeList(QByteArrayView section, QByteArrayView countKey,
                   const QList<QByteArray> &entries);

    // The options; a value that is missing or unreadable gives the default.
    LobbyPreferences readPreferences() const;
    void writePreferences(const LobbyPreferences &preferences);

    // The stored password form (the wire cipher, which is its own inverse).
    static QByteArray scramblePassword(const QByteArray &password);

private:
    IniFile m_ini;
};
