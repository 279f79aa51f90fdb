#include "Icons.h"

#include <QPainter>
#ifndef TAMREL_PICTURES_RENDERED
#include <QSvgRenderer>
#endif

namespace tamrel {

#ifdef TAMREL_PICTURES_RENDERED
// Where there is no Qt Svg (the Windows build), each picture comes as PNGs
// rendered at build time at the sizes the window uses; any other size is
// scaled from the largest.
QPixmap Picture(const QString& name, int size) {
    QPixmap pixmap(QStringLiteral(":/pictures/%1-%2.png").arg(name).arg(size));
    if (pixmap.isNull())
        pixmap = QPixmap(QStringLiteral(":/pictures/%1-64.png").arg(name))
                     .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return pixmap;
}
#else
QPixmap Picture(const QString& name, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}
#endif

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(Picture(QStringLiteral("tamrel"), size));
    return icon;
}

}  // namespace tamrel
