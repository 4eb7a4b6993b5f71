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
        // Moved over once, while the user has no file of their own: when the program
        // folder is read-only the old file stays behind, and copying it again at every
        // start would undo every setting changed since.
        if (QFile::exists(legacy) && !QFile::exists(path) &&
            QFileInfo(legacy).absoluteFilePath() != QFileInfo(path).absoluteFilePath()) {
            // Copy next to the target first and rename it in, so that a failed copy never
            // leaves a half file in the user's place.
            const QString staging = path + QStringLiteral(".new");
            QFile::remove(staging);
            if (QFile::copy(legacy, staging) && QFile::rename(staging, path))
                QFile::remove(legacy);
            else
                QFile::remove(staging);
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
