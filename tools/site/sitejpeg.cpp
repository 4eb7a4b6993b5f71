// Writes a picture of the site as JPEG: the site's pictures are drawn by a script that
// has no JPEG encoder, and the description pages carry JPEG pictures.
//
//   ostrel-sitejpeg IN OUT
#include <QImage>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN OUT\n", argv[0]);
        return 2;
    }
    const QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull()) {
        std::fprintf(stderr, "ostrel-sitejpeg: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "JPEG", 88)) {
        std::fprintf(stderr, "ostrel-sitejpeg: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
