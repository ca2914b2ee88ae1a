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
        const QString link = ComPortLink(int(n));
        // A dangling link counts as present: opening it then reports "not found".
        if (QFileInfo(link).exists() || QFileInfo(link).isSymLink())
            return link;
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + Name;
}

QString ComPortLink(int Number) {
    return VendrikConfigDir() + QStringLiteral("/dosdevices/com%1").arg(Number);
}

int ParseComNumber(const QString& Text) {
    static const QRegularExpression com(QStringLiteral("^\\s*(?:COM0*|\\+?0*)([0-9]{1,9})\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(Text);
    if (!m.hasMatch())
        return 0;
    const int n = m.captured(1).toInt();
    return n >= FirstComNumber && n <= LastComNumber ? n : 0;
}
