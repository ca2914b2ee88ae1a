#include "platform/SymbolicLinks.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

bool ReplaceSymLink(const QString& Link, const QString& Target, int& Error) {
    const QByteArray link = QFile::encodeName(Link);
    const QByteArray temporary = link + ".new-" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(Target).constData(), temporary.constData()) != 0) {
        Error = errno;
        return false;
    }
    if (::rename(temporary.constData(), link.constData()) != 0) {
        Error = errno;
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}
