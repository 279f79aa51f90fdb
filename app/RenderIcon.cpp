// Renders one of the program's pictures (SVG) as a PNG of one size, for the
// desktop's icon theme and the Windows build's resources, or as a Windows
// icon file holding every size Explorer asks for; run at build time.
//   tamrel-render-icon PICTURE.svg SIZE OUT.png
//   tamrel-render-icon PICTURE.svg ico OUT.ico
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

QImage Render(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    return image;
}

void Append16(QByteArray& out, quint16 value) {
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 2);
}
void Append32(QByteArray& out, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

// An icon file whose images are PNGs, as Windows has read them since Vista:
// a six-byte header, a sixteen-byte entry per image, then the images.
QByteArray IconFile(QSvgRenderer& svg) {
    const std::vector<int> sizes = {16, 24, 32, 48, 64, 128, 256};
    std::vector<QByteArray> pngs;
    for (int size : sizes) {
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        Render(svg, size).save(&png, "PNG");
        pngs.push_back(png.data());
    }
    QByteArray out;
    Append16(out, 0);  // reserved
    Append16(out, 1);  // an icon, not a cursor
    Append16(out, static_cast<quint16>(sizes.size()));
    quint32 offset = static_cast<quint32>(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const char side = static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]);  // 0 means 256
        out.append(side).append(side).append('\0').append('\0');
        Append16(out, 1);   // colour planes
        Append16(out, 32);  // bits per pixel
        Append32(out, static_cast<quint32>(pngs[i].size()));
        Append32(out, offset);
        offset += static_cast<quint32>(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        out.append(png);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PICTURE.svg SIZE|ico OUT\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    const QByteArray what(argv[2]);
    const QString out = QString::fromLocal8Bit(argv[3]);
    if (svg.isValid() && what == "ico") {
        QFile file(out);
        const QByteArray icon = IconFile(svg);
        return file.open(QIODevice::WriteOnly) && file.write(icon) == icon.size() ? 0 : 1;
    }
    const int size = what.toInt();
    if (!svg.isValid() || size <= 0) {
        std::fprintf(stderr, "cannot render %s at %s\n", argv[1], argv[2]);
        return 1;
    }
    return Render(svg, size).save(out) ? 0 : 1;
}
