// zeb40-icon-export FOLDER: writes the window's icon into FOLDER as the desktop's icon theme
// expects it (SIZExSIZE/apps/zeb40-upgrade.png). The 16 x 16 and 32 x 32 files are the window's
// own images, taken from the same drawing; the 256 x 256 file is the 32 x 32 image enlarged eight
// times without smoothing, so that launchers showing large icons show the same sixteen-colour
// picture rather than a blurred one.
//
// zeb40-icon-export --ico FILE: writes the same two images as a Windows icon file, each in 16
// colours (4 bits a pixel) with its transparency mask, for the resource of zeb40-upgrade.exe.
#include "app/Icon.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

bool Save(const QImage& image, const QString& folder) {
    const QString size = QString::number(image.width());
    const QString dir = folder + "/" + size + "x" + size + "/apps";
    const QString file = dir + "/zeb40-upgrade.png";
    if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
        std::fprintf(stderr, "zeb40-icon-export: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

// Little-endian fields of the icon file.
void Put16(QByteArray& out, uint32_t value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One image of the icon file: a bitmap header of twice the height (the colours, then the mask),
// the sixteen colours, the colour indices at 4 bits a pixel and the mask at 1 bit a pixel, both
// bottom row first and each row padded to 4 bytes. A transparent pixel is index 0 (black) with
// its mask bit set. Empty when a pixel's colour is none of the sixteen.
QByteArray IconImage(const QImage& image) {
    const QList<QRgb>& palette = ToolIconPalette();
    const int size = image.width();
    const int colourRow = (size * 4 + 31) / 32 * 4;
    const int maskRow = (size + 31) / 32 * 4;
    std::vector<uint8_t> colours(static_cast<size_t>(colourRow * size));
    std::vector<uint8_t> mask(static_cast<size_t>(maskRow * size));
    for (int y = 0; y < size; ++y) {
        const int row = size - 1 - y;
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            uint8_t index = 0;
            if (qAlpha(pixel) == 0) {
                mask[static_cast<size_t>(row * maskRow + x / 8)] |=
                    static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                const qsizetype found =
                    palette.indexOf(qRgb(qRed(pixel), qGreen(pixel), qBlue(pixel)));
                if (qAlpha(pixel) != 255 || found < 0) {
                    return {};
                }
                index = static_cast<uint8_t>(found);
            }
            uint8_t& byte = colours[static_cast<size_t>(row * colourRow + x / 2)];
            byte |= static_cast<uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
    }
    QByteArray out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(2 * size));
    Put16(out, 1); // planes
    Put16(out, 4); // bits a pixel
    Put32(out, 0); // no compression
    Put32(out, static_cast<uint32_t>(colours.size() + mask.size()));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 16); // colours used
    Put32(out, 0);
    for (const QRgb colour : palette) {
        out.append(static_cast<char>(qBlue(colour)));
        out.append(static_cast<char>(qGreen(colour)));
        out.append(static_cast<char>(qRed(colour)));
        out.append('\0');
    }
    out.append(reinterpret_cast<const char*>(colours.data()),
               static_cast<qsizetype>(colours.size()));
    out.append(reinterpret_cast<const char*>(mask.data()), static_cast<qsizetype>(mask.size()));
    return out;
}

// The icon file: its header, one directory entry an image, then the images.
bool SaveIco(const QList<QImage>& images, const QString& file) {
    QList<QByteArray> data;
    for (const QImage& image : images) {
        data.append(IconImage(image));
        if (data.back().isEmpty()) {
            std::fprintf(stderr, "zeb40-icon-export: the %d x %d image is not in the 16 colours\n",
                         image.width(), image.width());
            return false;
        }
    }
    QByteArray out;
    Put16(out, 0);
    Put16(out, 1); // an icon
    Put16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        out.append(static_cast<char>(images[i].width()));
        out.append(static_cast<char>(images[i].height()));
        out.append(static_cast<char>(16)); // colours
        out.append('\0');
        Put16(out, 1);
        Put16(out, 4);
        Put32(out, static_cast<uint32_t>(data[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(data[i].size());
    }
    for (const QByteArray& image : data) {
        out.append(image);
    }
    QFile ico(file);
    if (!ico.open(QIODevice::WriteOnly | QIODevice::Truncate) || ico.write(out) != out.size()) {
        std::fprintf(stderr, "zeb40-icon-export: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool ico = argc == 3 && QByteArray(argv[1]) == "--ico";
    if (argc != 2 && !ico) {
        std::fprintf(stderr, "usage: zeb40-icon-export FOLDER | --ico FILE\n");
        return 64;
    }
    // Pixmaps need a GUI application, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString target = QString::fromLocal8Bit(argv[argc - 1]);
    const QIcon icon = ToolIcon();
    QList<QImage> images;
    // The larger image first, as Windows lists them.
    for (const int size : {32, 16}) {
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (image.size() != QSize(size, size)) {
            std::fprintf(stderr, "zeb40-icon-export: the icon has no %d x %d image\n", size, size);
            return 1;
        }
        images.append(image.convertToFormat(QImage::Format_ARGB32));
    }
    if (ico) {
        return SaveIco(images, target) ? 0 : 1;
    }
    for (const QImage& image : images) {
        if (!Save(image, target)) {
            return 1;
        }
    }
    const QImage enlarged =
        images.front().scaled(256, 256, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return Save(enlarged, target) ? 0 : 1;
}
