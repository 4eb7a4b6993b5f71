#include "tdownload.h"

#include "installersignature.h"
#include "ownfile.h"
#include "platform.h"
#include "sitekey.h"
#include "tflatbutton.h"
#include "thttpcli.h"
#include "userpaths.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    // Game names and file names come from the catalogue and the site: never markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

} // namespace

Tdownload::Tdownload(QWidget *parent)
    : QDialog(parent), HttpCli1(new THttpCli(this)), m_signatureCli(new THttpCli(this)),
      m_siteKey(reinterpret_cast<const char *>(sitekey::kPublicKey), sizeof sitekey::kPublicKey)
{
    setObjectName(QStringLiteral("download"));
    setWindowTitle(QStringLiteral("Download Ostrel Games"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    HttpCli1->setObjectName(QStringLiteral("HttpCli1"));

    label_gamename = makeLabel(this, "label_gamename");
    QFont title = label_gamename->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.4);
    label_gamename->setFont(title);
    Label1 = makeLabel(this, "Label1", QStringLiteral("Please Make Sure"));
    label_gamename2 = makeLabel(this, "label_gamename2");
    QFont bold = label_gamename2->font();
    bold.setBold(true);
    label_gamename2->setFont(bold);
    Label2 = makeLabel(this, "Label2", QStringLiteral("IS CLOSED"));
    Label3 = makeLabel(this, "Label3", QStringLiteral("Before Proceeding!!"));
    for (QLabel *warning : {Label1, Label2, Label3})
        warning->setProperty("role", QStringLiteral("muted"));
    infolabel3 = makeLabel(this, "infolabel3", QStringLiteral(" "));
    infolabel3->setWordWrap(true);
    infolabel = makeLabel(this, "infolabel");
    infolabel2 = makeLabel(this, "infolabel2");
    infolabel2->hide();
    // How far the transfer is: the share of the announced length, or a moving bar while
    // the server gave none.
    progressbar = new QProgressBar(this);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    progressbar->setTextVisible(true);
    progressbar->hide();

    getbutton = new TFlatButton(QStringLiteral("&Download And Install Now"), this);
    getbutton->setObjectName(QStringLiteral("getbutton"));
    getbutton->setKind(QStringLiteral("accent"));
    getbutton->setDefault(true);
    abortbutton = new TFlatButton(QStringLiteral("&Stop Download"), this);
    abortbutton->setObjectName(QStringLiteral("abortbutton"));
    abortbutton->setEnabled(false);
    connect(getbutton, &QPushButton::clicked, this, &Tdownload::getbuttonClick);
    connect(abortbutton, &QPushButton::clicked, this, &Tdownload::abortbuttonClick);

    HttpCli1->OnHeaderData = [this](QObject *) { HttpCli1HeaderData(); };
    HttpCli1->OnDocBegin = [this](QObject *) { HttpCli1DocBegin(); };
    HttpCli1->OnDocData = [this](QObject *) { HttpCli1DocData(); };
    // A signature is a few bytes; anything longer is not one.
    m_signatureCli->MaxBodyBytes = 4096;

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(abortbutton);
    buttons->addWidget(getbutton);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(4);
    layout->addWidget(label_gamename);
    layout->addSpacing(8);
    layout->addWidget(Label1);
    layout->addWidget(label_gamename2);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addSpacing(10);
    layout->addWidget(infolabel3);
    layout->addWidget(infolabel);
    layout->addWidget(infolabel2);
    layout->addWidget(progressbar);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(340);
    FormCreate();
}

void Tdownload::FormCreate()
{
    // The window is a white card, like the lobby's panels. The application's style sheet
    // paints every dialog's background, so a palette colour would not show: the card's
    // colour is a rule of its own, more specific than the one for all dialogs.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("Tdownload { background: #ffffff; }"));
}

QString Tdownload::fileNameOf(const QString &url)
{
    QString rest = url;
    const qsizetype end = rest.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (end >= 0)
        rest.truncate(end);
    const QString name = rest.mid(rest.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    for (const QChar c : name) {
        if (c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QString();
    }
    // Files the lobby keeps in its data folder (or beside its program): never a download's
    // name, wherever downloads are saved.
    for (const char *own : {"ostrellobby.ini", "registry.ini", "updater", "updater.ini",
                            "updater.log", "ostrel-lobby"}) {
        if (name.compare(QLatin1String(own), Qt::CaseInsensitive) == 0)
            return QString();
    }
    return name;
}

QString Tdownload::downloadFolder()
{
    return UserPaths::dataFolder() + QStringLiteral("/downloads");
}

void Tdownload::getbuttonClick()
{
    // Another start while one runs (an automatic update arriving through the event loop
    // the transfer keeps running) would write the same file twice.
    if (m_busy)
        return;
    m_busy = true;
    const auto idle = qScopeGuard([this] { m_busy = false; });

    m_infolabelTag = 1;
    progressbar->hide();
    const QString url = HttpCli1->URL();
    const QString file = fileNameOf(url);
    infolabel2->setText(file);
    if (file.isEmpty()) {
        refuse(QStringLiteral("Not downloaded: the address names no file to save."));
        return;
    }
    const QString folder = downloadFolder();
    if (!QDir().mkpath(folder)) {
        platform::Platform::instance().showError(QStringLiteral("Cannot create the folder ") +
                                                 QDir::toNativeSeparators(folder) + '.');
        return;
    }
    const QString path = folder + QLatin1Char('/') + file;
    platform::Platform::instance().messageBox(
        label_gamename->text() + QStringLiteral(" will be saved to ") +
        QDir::toNativeSeparators(path) + QStringLiteral(" and installed."));

    // A new file of its own (never one that exists, never through a link), which takes
    // the name only once checked: a refused download leaves the previous file as it was,
    // and nothing that is not checked is ever executable.
    std::string partName;
    const int fd =
        ownfile::createUnique(QFile::encodeName(folder).toStdString(), ".download-", partName);
    QFile out;
    if (fd < 0 || !out.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        platform::Platform::instance().showError(QStringLiteral("Cannot create ") +
                                                 QDir::toNativeSeparators(path) + '.');
        return;
    }
    const QString part = QFile::decodeName(QByteArray::fromStdString(partName));
    auto removePart = qScopeGuard([&out, &part] {
        out.close();
        QFile::remove(part);
    });
    m_folder = folder;
    m_checkedAt = 0;
    m_stopReason.clear();
    HttpCli1->RcvdStream = &out;
    HttpCli1->MaxBodyBytes = m_maxBytes;
    getbutton->setEnabled(false);
    abortbutton->setEnabled(true);
    infolabel->setText(QStringLiteral("Loading"));
    {
        const auto finish = qScopeGuard([this] {
            getbutton->setEnabled(true);
            abortbutton->setEnabled(false);
            HttpCli1->RcvdStream = nullptr;
        });
        try {
            HttpCli1->Get();
            out.flush();
            infolabel->setText(QStringLiteral("Received ") + QString::number(out.size()) +
                               QStringLiteral(" bytes"));
            progressbar->setRange(0, 1);
            progressbar->setValue(1);
        } catch (const EHttpException &e) {
            infolabel->setText(QStringLiteral("Download Aborted"));
            if (!m_stopReason.isEmpty())
                infolabel3->setText(m_stopReason);
            else if (e.ErrorCode() == EHttpException::TooLarge)
                infolabel3->setText(QStringLiteral("Not downloaded: the file is larger than "
                                                   "any game's installer."));
            else
                infolabel3->setText(QStringLiteral("Download Aborted"));
            m_infolabelTag = 2;
        }
    }
    if (m_infolabelTag == 2 || !signatureValid(part, file))
        return;
    // Only now may it run (closed, or it could not be started); the rename puts it in place
    // in one step.
    out.close();
    QFile::setPermissions(part, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (std::rename(partName.c_str(), QFile::encodeName(path).constData()) != 0) {
        platform::Platform::instance().showError(QStringLiteral("Cannot create ") +
                                                 QDir::toNativeSeparators(path) + '.');
        return;
    }
    removePart.dismiss();
    install(path, file);
}

void Tdownload::stopForDisk(const QString &status)
{
    m_stopReason = status;
    m_infolabelTag = 2;
    HttpCli1->Abort();
}

void Tdownload::refuse(const QString &status)
{
    m_infolabelTag = 2;
    infolabel3->setText(status);
}

bool Tdownload::signatureValid(const QString &path, const QString &file)
{
    infolabel3->setText(QStringLiteral("Checking: ") + file);
    const std::string sitePath =
        installersignature::sitePathOf(HttpCli1->URL().toStdString(), m_siteRoot.toStdString());
    if (sitePath.empty()) {
        refuse(QStringLiteral("Not installed: ") + file +
               QStringLiteral(" does not come from the lobby's web site."));
        return false;
    }
    QBuffer signature;
    signature.open(QIODevice::WriteOnly);
    m_signatureCli->RcvdStream = &signature;
    m_signatureCli->setURL(HttpCli1->URL() + QStringLiteral(".sig"));
    abortbutton->setEnabled(true);
    try {
        m_signatureCli->Get();
    } catch (const EHttpException &) {
        abortbutton->setEnabled(false);
        m_signatureCli->RcvdStream = nullptr;
        if (m_infolabelTag == 2)
            return false;
        refuse(QStringLiteral("Not installed: the site has no valid signature for ") + file + '.');
        return false;
    }
    abortbutton->setEnabled(false);
    m_signatureCli->RcvdStream = nullptr;
    if (m_infolabelTag == 2)
        return false;
    std::string bytes;
    std::string version;
    if (!installersignature::readSignatureFile(signature.data().toStdString(), bytes, version)) {
        refuse(QStringLiteral("Not installed: the site has no valid signature for ") + file + '.');
        return false;
    }
    if (!installersignature::verifyFile(QFile::encodeName(path).toStdString(), sitePath, version,
                                        bytes, m_siteKey)) {
        refuse(QStringLiteral("Not installed: ") + file +
               QStringLiteral(" failed the signature check (damaged or not from the site)."));
        return false;
    }
    // The signed version: never older than what is installed, and the one the catalogue
    // names (an installer signed long ago for this path is not the current one).
    const QString signedVersion = QString::fromStdString(version);
    const std::optional<int> order =
        installersignature::compareVersions(version, m_installedVersion.toStdString());
    if (!m_installedVersion.isEmpty() && order && *order < 0) {
        refuse(QStringLiteral("Not installed: %1 is version %2, older than the installed "
                              "version %3.")
                   .arg(file, signedVersion, QString::fromUtf8(m_installedVersion)));
        return false;
    }
    if (!m_catalogueVersion.isEmpty() && version != m_catalogueVersion.toStdString()) {
        refuse(QStringLiteral("Not installed: %1 is version %2, not the current version %3.")
                   .arg(file, signedVersion, QString::fromUtf8(m_catalogueVersion)));
        return false;
    }
    return true;
}

void Tdownload::install(const QString &path, const QString &)
{
    infolabel3->setText(QStringLiteral("Installing"));
    if (!platform::Platform::instance().startProgram(
            path,
            {QStringLiteral("/SP-"), QStringLiteral("/silent"), QStringLiteral("/noicons")})) {
        platform::Platform::instance().messageBox(QStringLiteral("An Error has Occurred."));
        return;
    }
    if (onInstallerStarted)
        onInstallerStarted(label_gamename->text());
    hide();
}

void Tdownload::abortbuttonClick()
{
    m_infolabelTag = 2;
    HttpCli1->Abort();
    m_signatureCli->Abort();
    infolabel->setText(QStringLiteral("Download has been aborted."));
    infolabel3->setText(QStringLiteral("Download Aborted"));
}

void Tdownload::closeEvent(QCloseEvent *event)
{
    // A hidden window could not be stopped any more: closing it stops the transfer.
    if (m_busy)
        abortbuttonClick();
    QDialog::closeEvent(event);
}

void Tdownload::HttpCli1HeaderData()
{
    infolabel->setText(infolabel->text() + QLatin1Char('.'));
}

namespace {

qint64 announcedLength(const QList<QByteArray> &header)
{
    for (const QByteArray &line : header) {
        if (line.toLower().startsWith("content-length:"))
            return line.mid(15).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

void Tdownload::HttpCli1DocBegin()
{
    infolabel3->setText(QStringLiteral("Downloading: ") + infolabel2->text());
    const qint64 announced = announcedLength(HttpCli1->RcvdHeader());
    QStorageInfo disk(m_folder);
    if (announced > 0 && disk.isValid() && disk.bytesAvailable() - announced < kFreeSpaceReserve)
        stopForDisk(QStringLiteral("Not downloaded: not enough free space for ") +
                    infolabel2->text() + '.');
    m_expectedBytes = announced > 0 ? announced : -1;
    // Counted in thousandths of the whole, so that any length fits the bar's int range.
    progressbar->setRange(0, m_expectedBytes > 0 ? 1000 : 0);
    progressbar->setValue(0);
    progressbar->show();
}

void Tdownload::HttpCli1DocData()
{
    infolabel->setText(QString::number(HttpCli1->RcvdCount()) + QStringLiteral(" bytes"));
    if (m_expectedBytes > 0)
        progressbar->setValue(
            static_cast<int>(qMin<qint64>(HttpCli1->RcvdCount() * 1000 / m_expectedBytes, 1000)));
    // The disk is looked at every few megabytes: a body of unknown length stops before it
    // fills it.
    if (HttpCli1->RcvdCount() - m_checkedAt < (qint64(4) << 20))
        return;
    m_checkedAt = HttpCli1->RcvdCount();
    QStorageInfo disk(m_folder);
    if (disk.isValid() && disk.bytesAvailable() < kFreeSpaceReserve)
        stopForDisk(QStringLiteral("Not downloaded: the disk is full."));
}
