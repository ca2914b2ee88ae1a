#pragma once
// The pictures kept as resources under :/ui/icons.

#include <QIcon>
#include <QString>

// The icon from :/ui/icons/<name>.png. Read as PNG outright: an icon made from a file
// name lets the toolkit guess the format, which loads every image-format plug-in.
QIcon PictureIcon(const QString& name);
