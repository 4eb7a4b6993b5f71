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

    explicit ThtmlLite(QWidget *parent = nullptr);

    // The base of the page's relative references; kept for the event handlers, which
    // decide where a source is fetched from.
    QString ServerRoot;
    TImageRequestEvent OnImageRequest;
    THotSpotClickEvent OnHotSpotClick;

    // The marker an image-request handler answers with to supply the picture later.
    static QIODevice *WaitStream();

    // Shows the document read from stream (its whole remaining content) or from bytes:
    // UTF-8 when valid, otherwise Windows-1252.
    void LoadFromStream(QIODevice *stream);
    void LoadFromBytes(const QByteArray &html);
    // Puts in the picture the page asked for under src (the text OnImageRequest got).
    // False, and the page unchanged, when the page did not ask for it or the data is
    // not a picture that can be shown (GIF, PNG or JPEG within the limits).
    bool InsertImage(const QString &src, QIODevice *stream);
    bool InsertImage(const QString &src, const QByteArray &data);
    // Sources of pictures the page asked for that have not been supplied yet.
    QStringList waitingImages() const;

    void SelectAll();
    QString SelectedText() const;

    // The picture in data, or a null image: GIF and PNG through Qt, JPEG through our own
    // decoder; anything else or beyond the limits gives nothing.
    static QImage decodePicture(const QByteArray &data);

protected:
    QVariant loadResource(int type, const QUrl &name) override;

private:
    void requestAllImages();

    // Sources the current page asked for, with the exact name the document looks them
    // up by; true once the picture is in.
    struct Requested
    {
        QUrl name;
        bool supplied = false;
    };
    QHash<QString, Requested> m_requested;
};
