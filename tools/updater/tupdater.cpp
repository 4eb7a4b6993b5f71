#include "tupdater.h"

#include "installersignature.h"
#include "ownfile.h"
#include "sitekey.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

constexpr std::size_t kMaxJobBytes = 64 * 1024;

} // namespace

std::optional<TUpdater::Job> TUpdater::readJob(const QString &folder, QString *why)
{
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        return std::nullopt;
    };
    std::string error;
    const std::string folderName = QFile::encodeName(folder).toStdString();
    if (!ownfile::folderIsPrivate(folderName, &error))
        return refuse(QStringLiteral("No update: ") + QString::fromStdString(error));
    std::string text;
    if (!ownfile::readOwn(folderName + "/updater.ini", text, kMaxJobBytes, &error))
        return refuse(QStringLiteral("No update: ") + QString::fromStdString(error));

    // The file's own format: "[Update]" then Key=Value lines, keys in any letter case, the
    // value the rest of its line.
    QHash<QByteArray, QByteArray> values;
    bool inSection = false;
    for (QByteArray line : QByteArray::fromStdString(text).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('[')) {
            inSection = line.trimmed().toLower() == "[update]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0) {
            const QByteArray key = line.left(equals).trimmed().toLower();
            if (!values.contains(key))
                values.insert(key, line.mid(equals + 1));
        }
    }
    Job job;
    job.site = QString::fromUtf8(values.value("site"));
    job.program = QFile::decodeName(values.value("program"));
    job.lock = QFile::decodeName(values.value("lock"));
    const int count = std::clamp(values.value("arguments").toInt(), 0, 256);
    for (int i = 1; i <= count; ++i)
        job.arguments << QString::fromUtf8(values.value("argument" + QByteArray::number(i)));

    const QFileInfo program(job.program);
    if (program.fileName() != QLatin1String(kLobbyName) ||
        QFileInfo(program.absolutePath()).canonicalFilePath() !=
            QFileInfo(folder).canonicalFilePath())
        return refuse(QStringLiteral("No update: the job names %1, not the lobby beside the "
                                     "updater.")
                          .arg(job.program));
    return job;
}

bool TUpdater::writeLog(const QString &path, const QStringList &lines)
{
    QByteArray text;
    for (const QString &line : lines)
        text += line.toUtf8() + '\n';
    return ownfile::writeNew(QFile::encodeName(path).toStdString(), text.toStdString());
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
    std::string freshName;
    const int fd = ownfile::createUnique(QFile::encodeName(target.absolutePath()).toStdString(),
                                         ".ostrel-lobby-", freshName);
    QFile fresh;
    if (fd < 0 || !fresh.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        note(QStringLiteral("Cannot write in ") + target.absolutePath());
        return false;
    }
    // Gone again unless it takes the program's place.
    auto removeFresh = qScopeGuard([&] {
        fresh.close();
        ::unlink(freshName.c_str());
    });
    if (!fetch(url, &fresh, maxBytes))
        return false;
    fresh.flush();
    QBuffer signature;
    signature.open(QIODevice::WriteOnly);
    if (!fetch(url + QStringLiteral(".sig"), &signature, 4096))
        return false;
    const std::string key(reinterpret_cast<const char *>(sitekey::kPublicKey),
                          sizeof sitekey::kPublicKey);
    std::string bytes;
    std::string version;
    if (!installersignature::readSignatureFile(signature.data().toStdString(), bytes, version) ||
        !installersignature::verifyFile(freshName, kSitePath, version, bytes, key)) {
        note(QStringLiteral("The lobby build on the site failed the signature check; the "
                            "installed lobby stays."));
        return false;
    }
    // A build signed long ago is still signed: the version it was signed as must not be
    // older than the installed one's.
    const QString signedVersion = QString::fromStdString(version);
    if (const std::optional<QString> installedVersion = versionOf(m_job.program)) {
        const std::optional<int> order =
            installersignature::compareVersions(version, installedVersion->toStdString());
        if (order && *order < 0) {
            note(QStringLiteral("The lobby build on the site is version %1, older than the "
                                "installed version %2; the installed lobby stays.")
                     .arg(signedVersion, *installedVersion));
            return false;
        }
    }
    // Closed before it runs: a program still open for writing cannot be started.
    fresh.close();
    QFile::setPermissions(QFile::decodeName(QByteArray::fromStdString(freshName)),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                              QFile::ExeOther);
    // The installed build stays under a second name until the new one has shown that it
    // starts: a signed file that is no program for this machine must not leave the player
    // without a lobby.
    const QByteArray installed = QFile::encodeName(target.absoluteFilePath());
    const QByteArray previous =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.ostrel-lobby-previous"));
    ::unlink(previous.constData());
    if (::link(installed.constData(), previous.constData()) != 0) {
        note(QStringLiteral("Cannot keep the installed lobby aside; it stays."));
        return false;
    }
    // rename(2) replaces the program in one step: no moment without a lobby, and a copy
    // still running keeps the file it started from.
    if (std::rename(freshName.c_str(), installed.constData()) != 0) {
        note(QStringLiteral("Cannot replace ") + target.absoluteFilePath());
        ::unlink(previous.constData());
        return false;
    }
    removeFresh.dismiss();
    if (versionOf(target.absoluteFilePath()) != signedVersion) {
        if (std::rename(previous.constData(), installed.constData()) == 0)
            note(QStringLiteral("The new lobby build did not start; the previous one is back."));
        else
            note(QStringLiteral("The new lobby build did not start, and the previous one could "
                                "not be put back: it is ") +
                 QFile::decodeName(previous));
        return false;
    }
    ::unlink(previous.constData());
    note(QStringLiteral("Updated ") + target.absoluteFilePath());
    return true;
}

std::optional<QString> TUpdater::versionOf(const QString &program)
{
    QProcess run;
    run.start(program, {QStringLiteral("--version")});
    const bool answered = run.waitForStarted(versionWaitMs) && run.waitForFinished(versionWaitMs) &&
                          run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    if (!answered) {
        note(QStringLiteral("%1 --version: %2 (exit %3)")
                 .arg(program, run.errorString())
                 .arg(run.exitCode()));
        if (run.state() != QProcess::NotRunning) {
            run.kill();
            run.waitForFinished(1000);
        }
        return std::nullopt;
    }
    // "Halvane 1.2.3": the version is the last word.
    const QStringList words = QString::fromUtf8(run.readAllStandardOutput().left(256))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.isEmpty() ? QString() : words.last().trimmed();
}

void TUpdater::restart()
{
    qint64 pid = 0;
    if (QProcess::startDetached(m_job.program, m_job.arguments, QString(), &pid))
        note(QStringLiteral("Started %1 (process %2)").arg(m_job.program).arg(pid));
    else
        note(QStringLiteral("Cannot start ") + m_job.program);
}
