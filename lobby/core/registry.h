#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace platform {

// The install records of our games: an INI file with one section per game (its base
// name, e.g. "wordrace") holding "InstallPath" (the game's program) and "Version"
// (dotted, e.g. "1.6.7"). Installers write it; the lobby only reads it. Every read
// opens the file anew, so an installation finished while the lobby runs is seen.
class Registry
{
public:
    // OSTREL_REGISTRY when set, else the per-user "Ostrel/registry.ini" under the
    // generic data folder when it exists, else the machine-wide "/etc/ostrel/registry.ini".
    static QString defaultPath();

    explicit Registry(const QString &path = defaultPath()) : m_path(path) {}

    const QString &path() const { return m_path; }

    // A value of a game's record; empty when the file, the section or the value is
    // missing or cannot be read.
    QByteArray value(QByteArrayView game, QByteArrayView name) const;
    QByteArray installPath(QByteArrayView game) const { return value(game, "InstallPath"); }
    QByteArray version(QByteArrayView game) const { return value(game, "Version"); }

private:
    QString m_path;
};

} // namespace platform
