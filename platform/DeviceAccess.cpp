#include "platform/DeviceAccess.h"

#include <QFile>
#include <QVarLengthArray>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString GroupName(gid_t gid) {
    const group* g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString();
}

QString UserName(uid_t uid) {
    const passwd* p = ::getpwuid(uid);
    return p ? QString::fromLocal8Bit(p->pw_name) : QString();
}
} // namespace

bool StatFile(const QString& Path, TFileOwnership& Facts) {
    Facts = {};
    struct stat st {};
    if (::stat(QFile::encodeName(Path).constData(), &st) != 0)
        return false;
    Facts.exists = true;
    Facts.charDevice = S_ISCHR(st.st_mode);
    Facts.uid = st.st_uid;
    Facts.gid = st.st_gid;
    Facts.mode = st.st_mode & 07777;
    Facts.owner = UserName(st.st_uid);
    Facts.group = GroupName(st.st_gid);
    return true;
}

unsigned CurrentUid() {
    return ::geteuid();
}

QString CurrentUserName() {
    const QString name = UserName(::geteuid());
    return name.isEmpty() ? QString::number(::geteuid()) : name;
}

bool SessionHasGroup(unsigned Gid) {
    if (::getegid() == Gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    QVarLengthArray<gid_t, 64> groups(n);
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[i] == Gid)
            return true;
    return false;
}

bool AccountInGroup(const QString& User, unsigned Gid) {
    const QByteArray name = User.toLocal8Bit();
    if (const passwd* p = ::getpwnam(name.constData()); p && p->pw_gid == Gid)
        return true;
    const group* g = ::getgrgid(Gid);
    if (!g)
        return false;
    for (char** m = g->gr_mem; m && *m; ++m)
        if (name == *m)
            return true;
    return false;
}
