#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

#include <functional>

class QIODevice;

// A small HTML viewer for pages that come from the network. Nothing in a page runs or
// loads anything by itself: every picture is asked for through OnImageRequest, which
// either supplies it at once or answers with WaitStream() and supplies it later through
// InsertImage (the page is laid out at once with an empty spot); style sheets and other
// resources a page names are never loaded. Link clicks go to OnHotSpotClick only.
class ThtmlLite : public QTextBrowser
{
    Q_OBJECT
public:
    using TImageRequestEvent =
        std::function<void(QObject *Sender, const QString &src, QIODevice *&stream)>;
    using THotSpotClickEvent =
        std::function<void(QObject *Sender, const QString &src, bool &handled)>;

    // Pictures larger than this on either side, or in all, are not shown.
    static constexpr int kMaxPictureSide = 16384;
    static constexpr qint64 kMaxPicturePixels = 40'000'000;
    static constexpr qsizetype kMaxPictureBytes = 32 * 1024 * 1024;
    // What all pictures of one page may take together: pixels decoded (time) and pixels
    // kept once scaled to the size they are shown at (memory). A picture beyond either
    // stays missing.
    static constexpr qint64 kMaxPageDecodedPixels = 64'000'000;
    static constexpr qint64 kMaxPageKeptPixels = 6'000'000;
    // A picture without a size of its own in the page is shown at most this large.
    static constexpr int kMaxShownSide = 1200;

    explicit ThtmlLite(QWidget *parent = nullptr);

    // The base of the page's relative references; kept for the event handlers, which
    // decide where a source is fetched from.
    QString ServerRoot;
    TImageRequestEvent OnImageRequest;
    THotSpotClickEvent OnHotSpotClick;

    // The marker an image-request handler answers with to supply the picture later.
    static QIODevice *WaitStream();

    // Shows the document read from stream (its whole remaining content) or from bytes:
    // UTF-8 when valid, otherwise Windows-1252. The page is cut down to what the viewer
    // lays out quickly first (TPageSanitizer).
    void LoadFromStream(QIODevice *stream);
    void LoadFromBytes(const QByteArray &html);
    // Puts in the picture the page asked for under src (the text OnImageRequest got).
    // False, and the page unchanged, when the page did not ask for it or the data is
    // not a picture that can be shown (GIF, PNG or JPEG within the limits).
    bool InsertImage(const QString &src, QIODevice *stream);
    bool InsertImage(const QString &src, const QByteArray &data);
    // Sources of pictures the page asked for that have not been supplied yet.
    QStringList waitingImages() const;
    // Pixels of the current page's pictures as decoded and as kept.
    qint64 decodedPixels() const { return m_decodedPixels; }
    qint64 keptPixels() const { return m_keptPixels; }

    void SelectAll();
    QString SelectedText() const;

    // The picture in data, or a null image: GIF and PNG through Qt, JPEG through our own
    // decoder; anything else or beyond the limits gives nothing.
    static QImage decodePicture(const QByteArray &data);
    // The size of the picture in data from its header, without decoding it; invalid
    // when it cannot be read.
    static QSize pictureSize(const QByteArray &data);

protected:
    QVariant loadResource(int type, const QUrl &name) override;

private:
    void requestAllImages();
    // The picture in data as the page shows it, within what is left of the page's
    // budget; a null image when it cannot be shown.
    QImage pictureFor(const QString &src, const QByteArray &data);

    // Sources the current page asked for, with the exact name the document looks them
    // up by; true once the picture is in. shown: the largest size the page gives it
    // (0 for a side it leaves open).
    struct Requested
    {
        QUrl name;
        bool supplied = false;
        QSize shown;
    };
    QHash<QString, Requested> m_requested;
    qint64 m_decodedPixels = 0;
    qint64 m_keptPixels = 0;
};
