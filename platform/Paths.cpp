#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>

QString VendrikConfigDir() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vendrik");
}

QString ExecutablePath() {
    return QCoreApplication::applicationFilePath();
}
