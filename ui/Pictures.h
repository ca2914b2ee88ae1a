#pragma once
// The pictures kept as resources under :/ui/icons.

#include <QIcon>
#include <QPixmap>
#include <QString>

// A PNG picture read as PNG outright: a picture or icon made from a file name lets the
// toolkit guess the format, which loads every image-format plug-in. Null if unreadable.
QPixmap PngPicture(const QString& path);

// The icon from :/ui/icons/<name>.png, with <name>@1.5x.png and <name>@2x.png for
// 150 % and 200 % screens where they exist.
QIcon PictureIcon(const QString& name);
