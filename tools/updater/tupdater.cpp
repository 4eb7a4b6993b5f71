#include "tupdater.h"

#include "inifile.h"
#include "installersignature.h"
#include "sitekey.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryFile>

#include <cstdio>

TUpdater::Job TUpdater::readJob(const QString &iniPath)
{
    const IniFile ini(iniPath);
    Job job;
    job.site = QString::fromUtf8(ini.ReadString("Update", "Site"));
    job.program = QFile::decodeName(ini.ReadString("Update", "Program"));
    job.lock = QFile::decodeName(ini.ReadString("Update", "Lock"));
    const int count = ini.ReadString("Update", "Arguments").toInt();
    for (int i = 1; i <= count; ++i)
        job.arguments << QString::fromUtf8(
            ini.ReadString("Update", "Argument" + QByteArray::number(i)));
    return job;
}

bool TUpdater::run()
{
    if (m_job.program.isEmpty() || !QFileInfo(m_job.program).isFile()) {
        note(QStringLiteral("No lobby program to update: ") + m_job.program);
        return false;
    }
    // A lobby still running keeps its program; starting another one would make two.
    if (!waitForLobbyToEnd()) {
        note(QStringLiteral("The lobby did not end; nothing was changed."));
        return false;
    }
    const bool updated = replaceProgram();
    restart();
    return updated;
}

bool TUpdater::waitForLobbyToEnd()
{
    if (m_job.lock.isEmpty())
        return true;
    QLockFile lock(m_job.lock);
    lock.setStaleLockTime(0);
    if (!lock.tryLock(lockWaitMs))
        return false;
    // Free again at once: the lobby started afterwards takes it.
    lock.unlock();
    return true;
}

bool TUpdater::fetch(const QString &url, QIODevice *into, qint64 limit)
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply *reply = network.get(request);
    qint64 received = 0;
    bool failed = false;
    QEventLoop loop;
    QObject::connect(reply, &QIODevice::readyRead, &loop, [&] {
        const QByteArray chunk = reply->readAll();
        received += chunk.size();
        if (received > limit || into->write(chunk) != chunk.size()) {
            failed = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray rest = reply->readAll();
    if (!failed && !rest.isEmpty())
        failed = into->write(rest) != rest.size();
    received += rest.size();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool ok = !failed && reply->error() == QNetworkReply::NoError && status == 200 &&
                    (!announced.isValid() || announced.toLongLong() == received);
    if (!ok)
        note(QStringLiteral("Fetching %1 failed: %2").arg(url, reply->errorString()));
    reply->deleteLater();
    return ok;
}

bool TUpdater::replaceProgram()
{
    const QString url = m_job.site + QLatin1String(kSitePath);
    const QFileInfo target(m_job.program);
    // Beside the program, so that putting it in place is one rename on one file system.
    QTemporaryFile fresh(target.absolutePath() + QStringLiteral("/.ostrel-lobby-XXXXXX"));
    if (!fresh.open()) {
        note(QStringLiteral("Cannot write in ") + target.absolutePath() + QStringLiteral(": ") +
             fresh.errorString());
        return false;
    }
    if (!fetch(url, &fresh, maxBytes))
        return false;
    fresh.flush();
    QBuffer signature;
    signature.open(QIODevice::WriteOnly);
    if (!fetch(url + QStringLiteral(".sig"), &signature, 4096))
        return false;
    const std::string key(reinterpret_cast<const char *>(sitekey::kPublicKey),
                          sizeof sitekey::kPublicKey);
    if (!installersignature::verifyFile(QFile::encodeName(fresh.fileName()).toStdString(),
                                        kSitePath, signature.data().toStdString(), key)) {
        note(QStringLiteral("The lobby build on the site failed the signature check; the "
                            "installed lobby stays."));
        return false;
    }
    fresh.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                         QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    // rename(2) replaces the program in one step: no moment without a lobby, and a copy
    // still running keeps the file it started from.
    if (std::rename(QFile::encodeName(fresh.fileName()).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        note(QStringLiteral("Cannot replace ") + target.absoluteFilePath());
        return false;
    }
    fresh.setAutoRemove(false);
    note(QStringLiteral("Updated ") + target.absoluteFilePath());
    return true;
}

void TUpdater::restart()
{
    qint64 pid = 0;
    if (QProcess::startDetached(m_job.program, m_job.arguments, QString(), &pid))
        note(QStringLiteral("Started %1 (process %2)").arg(m_job.program).arg(pid));
    else
        note(QStringLiteral("Cannot start ") + m_job.program);
}
