#pragma once

#include <QBuffer>
#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class TFlatButton;
class THttpCli;
class TURL;
class ThtmlLite;

// Shows a game's description page from the lobby's web site. The text shows at once;
// its pictures are fetched afterwards, one per posted call so that the window paints
// between them. Links open in the user's browser (web and mail addresses only). Created
// once and reused; not modal.
class Tgamedescription : public QDialog
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxPageBytes = 2 * 1024 * 1024;
    // What the pictures of one page may take to fetch, together.
    static constexpr qint64 kMaxPagePictureBytes = 24 * 1024 * 1024;

    explicit Tgamedescription(QWidget *parent = nullptr);

    // The site the pages come from ("http://host/", closing slash).
    void setSiteRoot(const QString &root) { m_siteRoot = root; }
    const QString &siteRoot() const { return m_siteRoot; }

    // Fetches and shows the page of game (lower case, as its folder on the site is
    // named); raises EHttpException when the page cannot be fetched.
    void loadit(const QString &game);
    void geturl(const QString &url);
    // Fetches url into the window's one buffer and returns it, read from the start.
    // Raises EHttpException, also when a transfer of this window is running already.
    QIODevice *GetStream(const QString &url, qint64 maxBytes = kMaxPageBytes);

    // True while a page or picture transfer runs; stop() ends it and drops the pictures
    // still to come.
    bool busy() const;
    void stop();
    // Picture sources of the current page still to be fetched, in order.
    const QStringList &pendingPictures() const { return m_pending; }

    // Where a page's picture or link source is fetched from: a source that starts with
    // "http://" or "https://" (any letter case) as it stands; otherwise "/" in front
    // unless it has one, then the server root in front unless it holds "HTTP".
    static QString absoluteUrl(const QString &src, const QString &serverRoot);
    // The address a link opens, or empty when it is not one to open (only web and mail
    // addresses leave the window; of a mail address only the address and a subject).
    static QString linkAddress(const QString &src, const QString &serverRoot);

    void FlatButton1Click();

    QLabel *label_gamename;
    TFlatButton *FlatButton1;
    ThtmlLite *displayhtml;
    THttpCli *gethtml;
    TURL *URL1;

private:
    void showPage(QIODevice *stream);
    void displayhtmlImageRequest(QObject *Sender, const QString &src, QIODevice *&stream);
    void displayhtmlHotSpotClick(QObject *Sender, const QString &src, bool &handled);
    // Fetches the first waiting picture and posts itself again while more wait.
    void getpicture();
    void postPicture();
    void FormCreate();

    QString m_siteRoot;
    QStringList m_pending;
    QBuffer m_stream;
    // Counts the pages loaded, so a picture fetched for an earlier page is dropped.
    quint64 m_page = 0;
    qint64 m_pictureBytes = 0;
    // A picture call found a transfer running: it is posted again when that ends.
    bool m_pictureDeferred = false;
};
