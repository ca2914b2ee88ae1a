#include "platform/SerialNames.h"

#include "platform/Paths.h"

#include <QFileInfo>
#include <QRegularExpression>

QString ResolveSerialDevice(const QString& Name) {
    if (Name.startsWith(u'/'))
        return Name;
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,8})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(Name);
    if (m.hasMatch()) {
        const qint64 n = m.captured(1).toLongLong();
        const QString link = VendrikConfigDir() + QStringLiteral("/dosdevices/com%1").arg(n);
        // A dangling link counts as present: opening it then reports "not found".
        if (QFileInfo(link).exists() || QFileInfo(link).isSymLink())
            return link;
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + Name;
}
