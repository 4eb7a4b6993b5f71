// The lobby's updater: started by the lobby without arguments, it finds what to do in
// "updater.ini" beside itself, and keeps a log of what it did in "updater.log" there.
#include "ownfile.h"
#include "tupdater.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath();
    QStringList lines;
    bool updated = false;
    QString why;
    const std::optional<TUpdater::Job> job = TUpdater::readJob(folder, &why);
    if (job) {
        TUpdater updater(*job);
        updated = updater.run();
        lines = updater.log();
    } else {
        lines << why;
    }
    for (QString &line : lines)
        line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + line;
    for (const QString &line : lines)
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    // A folder others may write to gets no log either.
    if (ownfile::folderIsPrivate(QFile::encodeName(folder).toStdString()))
        TUpdater::writeLog(folder + QStringLiteral("/updater.log"), lines);
    return updated ? 0 : 1;
}
