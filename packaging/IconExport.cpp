// zeb40-icon-export FOLDER: writes the window's icon into FOLDER as the desktop's icon theme
// expects it (SIZExSIZE/apps/zeb40-upgrade.png). The 16 x 16 and 32 x 32 files are the window's
// own images, taken from the same drawing; the 256 x 256 file is the 32 x 32 image enlarged eight
// times without smoothing, so that launchers showing large icons show the same sixteen-colour
// picture rather than a blurred one.
#include "app/Icon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeb40-icon-export FOLDER\n");
        return 64;
    }
    // Pixmaps need a GUI application, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = ToolIcon();
    QImage large;
    for (const int size : {16, 32}) {
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (image.size() != QSize(size, size)) {
            std::fprintf(stderr, "zeb40-icon-export: the icon has no %d x %d image\n", size, size);
            return 1;
        }
        if (!Save(image, folder)) {
            return 1;
        }
        large = image;
    }
    const QImage enlarged = large.scaled(256, 256, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return Save(enlarged, folder) ? 0 : 1;
}
