// render_icon: draws the application's SVG icon as square PNG files for the
// hicolor icon theme, at build time.
//
//   render_icon SVG OUTDIR NAME SIZE...
//
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for each SIZE (1 to 1024 pixels).
// Exits 1 when the SVG does not load, a picture comes out fully transparent
// or a file cannot be written, so that a broken icon stops the build instead
// of being installed; exits 2 on bad arguments.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <vector>

namespace {

int Usage() {
    std::fputs("usage: render_icon SVG OUTDIR NAME SIZE...\n", stderr);
    return 2;
}

bool HasVisiblePixel(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) return Usage();
    const QString svgPath = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);

    std::vector<int> sizes;
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) return Usage();
        sizes.push_back(size);
    }

    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icon: %s is not a valid SVG\n", argv[1]);
        return 1;
    }
    // A non-square drawing stays centred and undistorted.
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);

    for (const int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        if (!HasVisiblePixel(image)) {
            std::fprintf(stderr, "render_icon: %s draws nothing at %d pixels\n", argv[1], size);
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
