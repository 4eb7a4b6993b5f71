#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class TFlatButton;
class THttpCli;

// The download window: fetches one game installer from the lobby's web site into the
// user's data folder, checks that the site signed it, and starts it silently. The lobby
// fills in the game's name and the address and shows it; the user starts the transfer
// (or the lobby does, for an automatic update). Created once and reused; closing it
// while a transfer runs stops the transfer.
class Tdownload : public QDialog
{
    Q_OBJECT
public:
    explicit Tdownload(QWidget *parent = nullptr);

    // No installer is larger than this (the catalogue gives no sizes).
    static constexpr qint64 kMaxInstallerBytes = qint64(1) << 30;
    // The version the next download must be signed as (the catalogue's; empty: any), and
    // the version installed now (empty: none), which it must not be older than.
    void setVersions(const QByteArray &catalogue, const QByteArray &installed)
    {
        m_catalogueVersion = catalogue;
        m_installedVersion = installed;
    }
    // The bound of one download's body; kMaxInstallerBytes unless replaced.
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    // A download stops rather than leave less than this free on the disk.
    static constexpr qint64 kFreeSpaceReserve = qint64(64) << 20;

    // The folder installers are saved in: one of their own in the data folder, so that
    // no download can stand in for the lobby's settings or other files.
    static QString downloadFolder();

    // The site the installers come from (e.g. "http://host/"): an installer is signed
    // for its path below this root.
    void setSiteRoot(const QString &root) { m_siteRoot = root; }
    // The key the site signs with; the build's own unless replaced.
    void setSiteKey(const std::string &publicKey) { m_siteKey = publicKey; }

    // From the start of getbuttonClick until the transfer and its checks have ended.
    bool busy() const { return m_busy; }
    // infolabel's Tag: 1 running or finished normally, 2 aborted.
    int infolabelTag() const { return m_infolabelTag; }

    void getbuttonClick();
    void abortbuttonClick();

    // The file name a download address stands for: its last "/"-separated segment
    // (without query or fragment); empty when that cannot name a file of the download
    // folder ("", ".", "..", a backslash or a control character, or the name of one of the
    // lobby's own files).
    static QString fileNameOf(const QString &url);

    QLabel *label_gamename;
    QLabel *Label1;
    QLabel *label_gamename2;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *infolabel3;
    TFlatButton *getbutton;
    TFlatButton *abortbutton;
    QLabel *infolabel;
    QLabel *infolabel2;
    class QProgressBar *progressbar;
    THttpCli *HttpCli1;

    // Told the game's name once its checked installer has been started.
    std::function<void(const QString &game)> onInstallerStarted;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void HttpCli1HeaderData();
    void HttpCli1DocBegin();
    void HttpCli1DocData();
    void FormCreate();
    // Checks the finished download's signature and starts it.
    void install(const QString &path, const QString &file);
    bool signatureValid(const QString &path, const QString &file);
    void refuse(const QString &status);
    // Stops the running transfer because of the disk: status says why.
    void stopForDisk(const QString &status);

    THttpCli *m_signatureCli;
    QString m_siteRoot;
    std::string m_siteKey;
    int m_infolabelTag = 1;
    // The length the server announced for the transfer under way; -1 when it gave none.
    qint64 m_expectedBytes = -1;
    bool m_busy = false;
    qint64 m_maxBytes = kMaxInstallerBytes;
    QByteArray m_catalogueVersion;
    QByteArray m_installedVersion;
    QString m_folder;
    qint64 m_checkedAt = 0;
    // Why the transfer was stopped from here, shown instead of the plain abort.
    QString m_stopReason;
};
