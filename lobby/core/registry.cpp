#include "registry.h"

#include "inifile.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

QString Registry::defaultPath()
{
    const QString fromEnvironment = qEnvironmentVariable("OSTREL_REGISTRY");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                            QStringLiteral("/Ostrel/registry.ini");
    if (QFileInfo::exists(perUser))
        return perUser;
    return QStringLiteral("/etc/ostrel/registry.ini");
}

QByteArray Registry::value(QByteArrayView game, QByteArrayView name) const
{
    if (game.isEmpty())
        return {};
    return IniFile(m_path).ReadString(game, name).trimmed();
}

} // namespace platform
