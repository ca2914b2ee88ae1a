#include "ui/Pictures.h"

#include <QImageReader>

QPixmap PngPicture(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon PictureIcon(const QString& name) {
    const QPixmap picture = PngPicture(QStringLiteral(":/ui/icons/%1.png").arg(name));
    return picture.isNull() ? QIcon() : QIcon(picture);
}
