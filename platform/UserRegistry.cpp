#include "platform/UserRegistry.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <memory>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct OpenKey {
    QStringList path;
    quint32 access = 0;
};

QMutex handlesLock;
QHash<RegHandle, OpenKey> handles;
RegHandle nextHandle = 1;

RegHandle NewHandle(const QStringList& path, quint32 access) {
    QMutexLocker lock(&handlesLock);
    while (handles.contains(nextHandle) || nextHandle >= HKEY_CLASSES_ROOT || nextHandle == 0)
        nextHandle = nextHandle >= HKEY_CLASSES_ROOT ? 1 : nextHandle + 1;
    const RegHandle h = nextHandle++;
    handles.insert(h, OpenKey{path, access});
    return h;
}

RegStatus LookUp(RegHandle key, OpenKey* out) {
    if (key == HKEY_CURRENT_USER) {
        *out = OpenKey{{}, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA)
        return ERROR_ACCESS_DENIED; // roots this store does not keep
    QMutexLocker lock(&handlesLock);
    const auto it = handles.constFind(key);
    if (it == handles.cend())
        return ERROR_INVALID_HANDLE;
    *out = *it;
    return ERROR_SUCCESS;
}

RegStatus SplitPath(const QString& subKey, QStringList* parts) {
    for (const QString& part : subKey.split(u'\\', Qt::SkipEmptyParts)) {
        if (!RegNameIsStorable(part))
            return ERROR_INVALID_PARAMETER;
        parts->append(part);
    }
    return parts->size() > RegMaxKeyDepth || RegKeyLineBytes(*parts) > RegMaxLineBytes
               ? ERROR_INVALID_PARAMETER
               : ERROR_SUCCESS;
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

struct Loaded {
    TRegKey root;
    bool exists = false;
    bool readable = true;
    bool clean = true;
    TFileStamp stamp;
};
using LoadedPtr = std::shared_ptr<const Loaded>;

// The reading that sessions share (see TUserRegistrySession).
QMutex sessionLock;
int sessions = 0;
LoadedPtr shared;
std::atomic<quint64> reads{0};

LoadedPtr SharedReading(const TFileStamp& stamp) {
    QMutexLocker lock(&sessionLock);
    return shared && shared->stamp == stamp ? shared : nullptr;
}

void KeepReading(const LoadedPtr& loaded) {
    QMutexLocker lock(&sessionLock);
    if (sessions > 0)
        shared = loaded;
}

LoadedPtr ReadStore() {
    auto result = std::make_shared<Loaded>();
    const int fd = ::open(Native(UserRegistryPath()).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result->exists = errno != ENOENT && errno != ENOTDIR;
        result->readable = !result->exists;
        return result;
    }
    result->exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !FileStampOf(fd, &result->stamp)) {
        ::close(fd);
        result->readable = false;
        return result;
    }
    if (LoadedPtr known = SharedReading(result->stamp)) {
        ::close(fd);
        return known;
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            result->readable = false;
            return result;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
        if (bytes.size() > UserRegistryReadCap)
            break;
    }
    ::close(fd);
    const bool capped = bytes.size() > UserRegistryReadCap;
    if (capped)
        bytes.truncate(UserRegistryReadCap);
    bool clean = true;
    result->root = ParseRegistryText(bytes, &clean);
    result->clean = clean && !capped;
    ++reads;
    KeepReading(result);
    return result;
}

bool MakeFolder(const QString& dir) {
    const QStringList parts = QDir::cleanPath(dir).split(u'/', Qt::SkipEmptyParts);
    QString path = dir.startsWith(u'/') ? QString() : QStringLiteral(".");
    for (const QString& part : parts) {
        path += u'/' + part;
        if (::mkdir(Native(path).constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(Native(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Holds the exclusive lock for its lifetime. Bounded: a stuck holder makes the write
// fail instead of hanging the program.
class WriteLock {
public:
    explicit WriteLock(const QString& path) {
        fd_ = ::open(Native(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd_ < 0)
            return;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            QThread::msleep(5);
        }
    }
    ~WriteLock() {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

// A copy of the damaged file under a name no earlier copy holds.
bool KeepAside(const QString& path) {
    const QString stem = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n < 10000; ++n) {
        const QString name = n == 1 ? stem : stem + u'-' + QString::number(n);
        if (::link(Native(path).constData(), Native(name).constData()) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        // No hard links here: copy, still refusing to overwrite.
        const int in = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (in < 0)
            return false;
        const int out =
            ::open(Native(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) {
            const int error = errno;
            ::close(in);
            if (error == EEXIST)
                continue;
            return false;
        }
        bool ok = true;
        char buffer[65536];
        for (;;) {
            const ssize_t r = ::read(in, buffer, sizeof buffer);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                ok = r == 0;
                break;
            }
            if (!WriteFully(out, buffer, r)) {
                ok = false;
                break;
            }
        }
        ok = ok && ::fsync(out) == 0;
        ::close(out);
        ::close(in);
        return ok;
    }
    return false;
}

// Read-modify-write under the lock. `change` returns false when it left the tree as it was.
template <typename Change> RegStatus Mutate(Change change) {
    const QString path = UserRegistryPath();
    if (!MakeFolder(QFileInfo(path).absolutePath()))
        return ERROR_WRITE_FAULT;
    WriteLock lock(path + QStringLiteral(".lock"));
    if (!lock.locked())
        return ERROR_WRITE_FAULT;
    // Every time the lock is held, also when nothing is to change: most saves of the
    // settings write what is already there, and those must clear up after a crash too.
    RemoveStaleTemporaries(path, PrivateStoreReplace.temporaries);
    const LoadedPtr store = ReadStore();
    if (!store->readable)
        return ERROR_ACCESS_DENIED; // replacing it would destroy what we cannot see
    // A copy: the shared reading must stay what is on disk when the change goes nowhere.
    auto next = std::make_shared<Loaded>();
    next->root = store->root;
    RegStatus status = ERROR_SUCCESS;
    if (!change(next->root, status) || status != ERROR_SUCCESS)
        return status;
    if (!MeasureRegistryTree(next->root).WithinLimits()) {
        // It would read back as damaged. A damaged file that fills the limits goes aside
        // whole: the change comes first, and what was read of it fills the room left. A
        // sound file is the user's and stays as it is.
        if (!store->exists || store->clean)
            return ERROR_NOT_ENOUGH_QUOTA;
        TRegKey changed;
        if (!change(changed, status) || status != ERROR_SUCCESS)
            return status;
        if (!MeasureRegistryTree(changed).WithinLimits())
            return ERROR_NOT_ENOUGH_QUOTA;
        RegMergeWithinLimits(changed, store->root);
        next->root = std::move(changed);
    }
    if (store->exists && !store->clean && !KeepAside(path))
        return ERROR_WRITE_FAULT;
    const QByteArray text = FormatRegistryText(next->root);
    if (!ReplaceAtomically(path, text.constData(), text.size(), PrivateStoreReplace, &next->stamp))
        return ERROR_WRITE_FAULT;
    next->exists = true;
    if (next->stamp.size >= 0)
        KeepReading(next);
    return ERROR_SUCCESS;
}

TRegKey& MakePath(TRegKey& root, const QStringList& path) {
    TRegKey* key = &root;
    for (const QString& part : path)
        key = &key->AddChild(part);
    return *key;
}

} // namespace

TUserRegistrySession::TUserRegistrySession() {
    QMutexLocker lock(&sessionLock);
    ++sessions;
}

TUserRegistrySession::~TUserRegistrySession() {
    LoadedPtr last; // freed outside the lock
    QMutexLocker lock(&sessionLock);
    if (--sessions == 0)
        last = std::move(shared);
}

quint64 UserRegistryReads() {
    return reads;
}

QString UserRegistryPath() {
    return VendrikConfigDir() + QStringLiteral("/user.reg");
}

RegStatus RegCreateKeyEx(RegHandle base, const QString& subKey, quint32 access, RegHandle* result) {
    OpenKey from;
    QStringList parts;
    if (RegStatus s = LookUp(base, &from); s != ERROR_SUCCESS)
        return s;
    if (RegStatus s = SplitPath(subKey, &parts); s != ERROR_SUCCESS)
        return s;
    const QStringList path = from.path + parts;
    if (path.size() > RegMaxKeyDepth || RegKeyLineBytes(path) > RegMaxLineBytes)
        return ERROR_INVALID_PARAMETER;
    // An existing key needs no lock and no write (and so opens in a read-only folder).
    if (ReadStore()->root.Find(path)) {
        *result = NewHandle(path, access);
        return ERROR_SUCCESS;
    }
    const RegStatus status = Mutate([&](TRegKey& root, RegStatus& s) {
        if (root.Find(path))
            return false;
        if (!(from.access & KEY_CREATE_SUB_KEY)) {
            s = ERROR_ACCESS_DENIED;
            return false;
        }
        MakePath(root, path);
        return true;
    });
    if (status != ERROR_SUCCESS)
        return status;
    *result = NewHandle(path, access);
    return ERROR_SUCCESS;
}

RegStatus RegOpenKeyEx(RegHandle base, const QString& subKey, quint32 access, RegHandle* result) {
    OpenKey from;
    QStringList parts;
    if (RegStatus s = LookUp(base, &from); s != ERROR_SUCCESS)
        return s;
    if (RegStatus s = SplitPath(subKey, &parts); s != ERROR_SUCCESS)
        return s;
    const QStringList path = from.path + parts;
    if (!ReadStore()->root.Find(path))
        return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(path, access);
    return ERROR_SUCCESS;
}

RegStatus RegQueryValueEx(RegHandle key, const QString& name, quint32* type, char* data,
                          quint32* size) {
    OpenKey open;
    if (RegStatus s = LookUp(key, &open); s != ERROR_SUCCESS)
        return s;
    if (!(open.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    const LoadedPtr store = ReadStore();
    const TRegKey* k = store->root.Find(open.path);
    const TRegValue* v = k ? k->Value(name) : nullptr;
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    const auto needed = static_cast<quint32>(v->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, v->data.constData(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

RegStatus RegSetValueEx(RegHandle key, const QString& name, quint32 type, const char* data,
                        quint32 size) {
    OpenKey open;
    if (RegStatus s = LookUp(key, &open); s != ERROR_SUCCESS)
        return s;
    if (!(open.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!RegNameIsStorable(name) || (size && !data) || size > RegMaxValueBytes)
        return ERROR_INVALID_PARAMETER;
    const TRegValue value{name, type, QByteArray(data, static_cast<qsizetype>(size))};
    if (RegValueLineBytes(value) > RegMaxLineBytes)
        return ERROR_INVALID_PARAMETER;
    return Mutate([&](TRegKey& root, RegStatus&) {
        TRegKey& k = MakePath(root, open.path);
        const TRegValue* old = k.Value(name);
        if (old && old->type == value.type && old->data == value.data)
            return false;
        k.SetValue(value);
        return true;
    });
}

RegStatus RegDeleteKeyTree(RegHandle key, const QString& subKey) {
    OpenKey open;
    QStringList parts;
    if (RegStatus s = LookUp(key, &open); s != ERROR_SUCCESS)
        return s;
    if (!(open.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (RegStatus s = SplitPath(subKey, &parts); s != ERROR_SUCCESS)
        return s;
    if (parts.isEmpty())
        return ERROR_INVALID_PARAMETER;
    const QStringList parentPath = open.path + parts.mid(0, parts.size() - 1);
    return Mutate([&](TRegKey& root, RegStatus& s) {
        TRegKey* parent = root.Find(parentPath);
        if (!parent || !parent->RemoveChild(parts.last())) {
            s = ERROR_FILE_NOT_FOUND;
            return false;
        }
        return true;
    });
}

RegStatus RegCloseKey(RegHandle key) {
    if (key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA)
        return ERROR_SUCCESS;
    QMutexLocker lock(&handlesLock);
    return handles.remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
