#include "ui/Pictures.h"

#include <QImageReader>

QPixmap PngPicture(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon PictureIcon(const QString& name) {
    const QPixmap picture = PngPicture(QStringLiteral(":/ui/icons/%1.png").arg(name));
    if (picture.isNull())
        return QIcon();
    // Each size is a picture of its own: the icon hands out the one a screen's ratio needs
    // instead of scaling the 1x one up.
    QIcon icon(picture);
    for (const char* ratio : {"@1.5x", "@2x"}) {
        const QPixmap larger =
            PngPicture(QStringLiteral(":/ui/icons/%1%2.png").arg(name, QLatin1String(ratio)));
        if (!larger.isNull())
            icon.addPixmap(larger);
    }
    return icon;
}
