#include "userpaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

const QString kIniName = QStringLiteral("ostrellobby.ini");

} // namespace

QString UserPaths::dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Ostrel");
}

QString UserPaths::getinifile(const QString &programFolder)
{
    const QString folder = dataFolder();
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + kIniName;
    if (!programFolder.isEmpty()) {
        const QString legacy = QDir(programFolder).filePath(kIniName);
        if (QFile::exists(legacy) &&
            QFileInfo(legacy).absoluteFilePath() != QFileInfo(path).absoluteFilePath()) {
            // Copy next to the target first and swap it in, so that a failed copy never
            // leaves the user without either file.
            const QString staging = path + QStringLiteral(".new");
            QFile::remove(staging);
            if (QFile::copy(legacy, staging)) {
                QFile::remove(path);
                if (QFile::rename(staging, path))
                    QFile::remove(legacy);
            }
        }
    }
    return path;
}

QString UserPaths::runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    return folder;
}
