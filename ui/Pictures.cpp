#include "ui/Pictures.h"

#include <QImageReader>
#include <QPixmap>

QIcon PictureIcon(const QString& name) {
    QImageReader reader(QStringLiteral(":/ui/icons/%1.png").arg(name), "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}
