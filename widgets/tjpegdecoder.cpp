#include "tjpegdecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// A warning is how libjpeg reports damaged data it papered over (a picture cut short
// is padded with grey): such a picture is refused like a corrupt one.
void emitMessage(j_common_ptr cinfo, int msgLevel)
{
    if (msgLevel < 0)
        errorExit(cinfo);
}

void outputMessage(j_common_ptr) {}

// The steps that can fail are kept in functions of their own whose frames hold nothing
// with a destructor, so that the longjmp out of libjpeg skips no cleanup.
bool readHeader(jpeg_decompress_struct *cinfo, const unsigned char *data, unsigned long size)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (setjmp(err->jump))
        return false;
    jpeg_mem_src(cinfo, data, size);
    jpeg_read_header(cinfo, TRUE);
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        break;
    default:
        cinfo->out_color_space = JCS_RGB;
        break;
    }
    return true;
}

bool start(jpeg_decompress_struct *cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (setjmp(err->jump))
        return false;
    jpeg_start_decompress(cinfo);
    return true;
}

// Reads every scanline: straight into the image's rows, or through `row` when the
// picture's CMYK is converted on the way.
bool readRows(jpeg_decompress_struct *cinfo, uchar *bits, qsizetype bytesPerLine,
              unsigned char *row)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (setjmp(err->jump))
        return false;
    while (cinfo->output_scanline < cinfo->output_height) {
        uchar *line = bits + bytesPerLine * static_cast<qsizetype>(cinfo->output_scanline);
        JSAMPROW target = row ? row : line;
        if (jpeg_read_scanlines(cinfo, &target, 1) != 1)
            return false;
        if (row) {
            // Files of this kind store CMYK inverted (Adobe's convention).
            auto *out = reinterpret_cast<QRgb *>(line);
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
                const unsigned char *p = row + 4 * x;
                const int k = p[3];
                out[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

bool TJpegDecoder::looksLikeJpeg(const QByteArray &data)
{
    return data.size() >= 3 && static_cast<uchar>(data[0]) == 0xFF &&
           static_cast<uchar>(data[1]) == 0xD8 && static_cast<uchar>(data[2]) == 0xFF;
}

QSize TJpegDecoder::headerSize(const QByteArray &data)
{
    if (!looksLikeJpeg(data) || data.size() > kMaxInputBytes)
        return QSize();
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    jpeg_create_decompress(&cinfo);
    const bool read = readHeader(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()),
                                 static_cast<unsigned long>(data.size()));
    const QSize size = read ? QSize(int(std::min<JDIMENSION>(cinfo.image_width, kMaxSide + 1)),
                                    int(std::min<JDIMENSION>(cinfo.image_height, kMaxSide + 1)))
                            : QSize();
    jpeg_destroy_decompress(&cinfo);
    return size;
}

QImage TJpegDecoder::decode(const QByteArray &data)
{
    if (!looksLikeJpeg(data) || data.size() > kMaxInputBytes)
        return QImage();

    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    jpeg_create_decompress(&cinfo);
    struct Destroy
    {
        jpeg_decompress_struct *cinfo;
        ~Destroy() { jpeg_destroy_decompress(cinfo); }
    } destroy{&cinfo};

    if (!readHeader(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()),
                    static_cast<unsigned long>(data.size())))
        return QImage();
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxSide ||
        cinfo.image_height > kMaxSide ||
        qint64(cinfo.image_width) * qint64(cinfo.image_height) > kMaxPixels)
        return QImage();
    if (!start(&cinfo))
        return QImage();

    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    if ((cmyk && cinfo.output_components != 4) ||
        (cinfo.out_color_space == JCS_GRAYSCALE && cinfo.output_components != 1) ||
        (cinfo.out_color_space == JCS_RGB && cinfo.output_components != 3))
        return QImage();
    const QImage::Format format = cmyk ? QImage::Format_RGB32
                                  : cinfo.out_color_space == JCS_GRAYSCALE
                                      ? QImage::Format_Grayscale8
                                      : QImage::Format_RGB888;
    QImage image(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                 format);
    if (image.isNull())
        return QImage();
    std::vector<unsigned char> row(cmyk ? 4 * std::size_t(cinfo.output_width) : 0);
    if (!readRows(&cinfo, image.bits(), image.bytesPerLine(), cmyk ? row.data() : nullptr))
        return QImage();
    return image;
}
