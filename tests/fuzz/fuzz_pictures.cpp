// The JPEG decoder of description pages: pictures come from the network, and a damaged
// one must give a null image without ending the process or touching memory it should not.
#include "tjpegdecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QImage image = TJpegDecoder::decode(input);
    if (!image.isNull() &&
        (image.width() > TJpegDecoder::kMaxSide || image.height() > TJpegDecoder::kMaxSide))
        std::abort();
    // Whatever follows a start-of-image marker is read as a JPEG.
    TJpegDecoder::decode(QByteArray("\xff\xd8\xff", 3) + input);
    return 0;
}
