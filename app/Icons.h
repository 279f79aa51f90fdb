// The program's own pictures, drawn as SVG files in the resources.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace tamrel {

// The picture of that name (unpack, pack, help, exit, newfolder, delete,
// tamrel) rendered at size x size pixels.
QPixmap Picture(const QString& name, int size = 16);
// The program's icon in the sizes a desktop asks for.
QIcon ProgramIcon();

}  // namespace tamrel
