#include "thtmllite.h"

#include "textcodec.h"
#include "tjpegdecoder.h"
#include "tpagesanitizer.h"

#include <QBuffer>
#include <QImageReader>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QTextImageFormat>

#include <algorithm>

namespace {

// Stands in for a picture that is still to come or could not be shown: it takes no room
// unless the page gave the picture a size of its own.
QImage placeholder()
{
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// Points the reader at the bytes; true when they are one of the two other formats pages
// may use (JPEG goes through libjpeg).
bool openGifOrPng(const QByteArray &data, QBuffer &buffer, QImageReader &reader)
{
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    reader.setDevice(&buffer);
    const QByteArray format = reader.format();
    return format == "gif" || format == "png";
}

} // namespace

ThtmlLite::ThtmlLite(QWidget *parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl &link) {
        bool handled = false;
        if (OnHotSpotClick)
            OnHotSpotClick(this, link.toString(), handled);
    });
}

QIODevice *ThtmlLite::WaitStream()
{
    // Only its address is used: a handler hands it back to mean "later".
    static QBuffer marker;
    return &marker;
}

void ThtmlLite::LoadFromStream(QIODevice *stream)
{
    LoadFromBytes(stream ? stream->readAll() : QByteArray());
}

void ThtmlLite::LoadFromBytes(const QByteArray &html)
{
    // Pictures of the previous page must not answer for the new one's sources.
    for (const Requested &r : std::as_const(m_requested))
        document()->addResource(QTextDocument::ImageResource, r.name, QVariant());
    m_requested.clear();
    m_decodedPixels = 0;
    m_keptPixels = 0;
    const TPageSanitizer::Result page =
        TPageSanitizer::sanitize(decodeWireText(html).toStdString());
    setHtml(QString::fromStdString(page.html));
    requestAllImages();
}

void ThtmlLite::requestAllImages()
{
    // The document asks for pictures only when it lays them out, which may be later
    // (or never, for a hidden viewer): ask for all of them now, in page order.
    QTextDocument *doc = document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QTextImageFormat picture = format.toImageFormat();
            doc->resource(QTextDocument::ImageResource, QUrl(picture.name()));
            // The largest size the page shows this picture at (the same source may
            // appear more than once).
            auto requested = m_requested.find(picture.name());
            if (requested != m_requested.end()) {
                QSize &shown = requested->shown;
                shown.setWidth(std::max(shown.width(), int(std::max(0.0, picture.width()))));
                shown.setHeight(std::max(shown.height(), int(std::max(0.0, picture.height()))));
            }
        }
    }
}

QVariant ThtmlLite::loadResource(int type, const QUrl &name)
{
    // Never the base class: it would read local files. A non-null answer also keeps the
    // document from loading the resource itself.
    if (type != QTextDocument::ImageResource)
        return QVariant(QString());

    const QString src = name.toString();
    if (m_requested.contains(src))
        return placeholder();
    m_requested.insert(src, Requested{name, false, QSize()});
    QIODevice *stream = nullptr;
    if (OnImageRequest)
        OnImageRequest(this, src, stream);
    if (!stream || stream == WaitStream())
        return placeholder();
    const QImage image = pictureFor(src, stream->read(kMaxPictureBytes + 1));
    if (image.isNull())
        return placeholder();
    m_requested[src].supplied = true;
    return image;
}

bool ThtmlLite::InsertImage(const QString &src, QIODevice *stream)
{
    return stream && InsertImage(src, stream->read(kMaxPictureBytes + 1));
}

bool ThtmlLite::InsertImage(const QString &src, const QByteArray &data)
{
    auto it = m_requested.find(src);
    if (it == m_requested.end() || it->supplied)
        return false;
    const QImage image = pictureFor(src, data);
    if (image.isNull())
        return false;
    document()->addResource(QTextDocument::ImageResource, it->name, image);
    it->supplied = true;
    // The picture's spot takes its real size only when its block is laid out again.
    document()->markContentsDirty(0, document()->characterCount());
    viewport()->update();
    return true;
}

QStringList ThtmlLite::waitingImages() const
{
    QStringList out;
    for (auto it = m_requested.cbegin(); it != m_requested.cend(); ++it) {
        if (!it->supplied)
            out << it.key();
    }
    return out;
}

void ThtmlLite::SelectAll()
{
    selectAll();
}

QString ThtmlLite::SelectedText() const
{
    return textCursor().selection().toPlainText();
}

QSize ThtmlLite::pictureSize(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kMaxPictureBytes)
        return QSize();
    if (TJpegDecoder::looksLikeJpeg(data))
        return TJpegDecoder::headerSize(data);
    QBuffer buffer;
    QImageReader reader;
    if (!openGifOrPng(data, buffer, reader))
        return QSize();
    return reader.size();
}

QImage ThtmlLite::pictureFor(const QString &src, const QByteArray &data)
{
    const QSize natural = pictureSize(data);
    if (!natural.isValid() || natural.isEmpty() || natural.width() > kMaxPictureSide ||
        natural.height() > kMaxPictureSide)
        return QImage();
    const qint64 decoded = qint64(natural.width()) * natural.height();
    if (decoded > kMaxPicturePixels || m_decodedPixels + decoded > kMaxPageDecodedPixels)
        return QImage();

    // The size it is shown at: the page's, a side it leaves open following the picture's
    // proportions; without one, its own size within kMaxShownSide.
    const QSize given = m_requested.value(src).shown;
    QSize shown = natural;
    if (given.width() > 0 && given.height() > 0)
        shown = given;
    else if (given.width() > 0)
        shown = QSize(given.width(), std::max<qint64>(1, qint64(natural.height()) * given.width() /
                                                             natural.width()));
    else if (given.height() > 0)
        shown =
            QSize(std::max<qint64>(1, qint64(natural.width()) * given.height() / natural.height()),
                  given.height());
    else if (natural.width() > kMaxShownSide || natural.height() > kMaxShownSide)
        shown = natural.scaled(kMaxShownSide, kMaxShownSide, Qt::KeepAspectRatio);
    // Never larger than the picture itself: a larger spot is drawn scaled by the viewer.
    shown = shown.boundedTo(natural).expandedTo(QSize(1, 1));
    const qint64 kept = qint64(shown.width()) * shown.height();
    if (m_keptPixels + kept > kMaxPageKeptPixels)
        return QImage();

    m_decodedPixels += decoded;
    QImage image = decodePicture(data);
    if (image.isNull())
        return QImage();
    if (image.size() != shown)
        image = image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_keptPixels += kept;
    return image;
}

QImage ThtmlLite::decodePicture(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kMaxPictureBytes)
        return QImage();
    if (TJpegDecoder::looksLikeJpeg(data))
        return TJpegDecoder::decode(data);

    QBuffer buffer;
    QImageReader reader;
    if (!openGifOrPng(data, buffer, reader))
        return QImage();
    // The size from the header, before anything is allocated for the pixels.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxPictureSide ||
        size.height() > kMaxPictureSide ||
        qint64(size.width()) * qint64(size.height()) > kMaxPicturePixels)
        return QImage();
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}
