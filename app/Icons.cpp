#include "Icons.h"

#include <QPainter>
#include <QSvgRenderer>

namespace tamrel {

QPixmap Picture(const QString& name, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(Picture(QStringLiteral("tamrel"), size));
    return icon;
}

}  // namespace tamrel
