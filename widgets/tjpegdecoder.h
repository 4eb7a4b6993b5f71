#pragma once

#include <QByteArray>
#include <QImage>

// Decodes JPEG pictures with libjpeg's own decompression interface. Pictures come from
// the network: a corrupt or truncated one gives a null image (libjpeg would otherwise
// end the process), and one that would need more memory than a page picture can
// reasonably take is refused before anything is allocated for it.
class TJpegDecoder
{
public:
    static constexpr int kMaxSide = 16384;
    static constexpr qint64 kMaxPixels = 40'000'000;
    static constexpr qsizetype kMaxInputBytes = 32 * 1024 * 1024;

    // True when data starts like a JPEG file (the start-of-image marker).
    static bool looksLikeJpeg(const QByteArray &data);
    // The picture's size from its header, or an invalid size when there is none.
    static QSize headerSize(const QByteArray &data);
    // The picture, or a null image for anything that is not a whole, sane JPEG.
    static QImage decode(const QByteArray &data);
};
