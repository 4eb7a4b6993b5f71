// The lobby's updater: started by the lobby without arguments, it finds what to do in
// "updater.ini" beside itself, and keeps a log of what it did in "updater.log" there.
#include "tupdater.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath();
    TUpdater updater(TUpdater::readJob(folder + QStringLiteral("/updater.ini")));
    const bool updated = updater.run();

    QFile log(folder + QStringLiteral("/updater.log"));
    const bool logged = log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    for (const QString &line : updater.log()) {
        const QByteArray stamped =
            (QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + line).toUtf8();
        if (logged)
            log.write(stamped + '\n');
        std::fprintf(stderr, "%s\n", stamped.constData());
    }
    return updated ? 0 : 1;
}
