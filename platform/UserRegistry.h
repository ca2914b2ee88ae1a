#pragma once
// The per-user registry: the handful of key/value operations the settings store calls,
// kept in VendrikConfigDir()/user.reg (format in RegistryFile.h).
//
// Handles name key paths, not snapshots: every operation consults the file as it is on
// disk at that moment, so a store object always sees what another running instance saved
// last. Every change is a read-modify-write under an exclusive lock on user.reg.lock and
// reaches the disk (atomic replace, fsync) before the call returns success. A file that
// was not fully understood is copied aside (user.reg.damaged-<time>) before it is
// replaced; one that exists but cannot be read is never replaced.
//
// Text is UTF-8: a REG_SZ value's data is the UTF-8 bytes of the text plus one NUL.

#include "platform/RegistryFile.h"

#include <QByteArray>
#include <QString>

using RegHandle = quint32;

// Predefined roots; only HKEY_CURRENT_USER is kept.
constexpr RegHandle HKEY_CLASSES_ROOT = 0x80000000;
constexpr RegHandle HKEY_CURRENT_USER = 0x80000001;
constexpr RegHandle HKEY_LOCAL_MACHINE = 0x80000002;
constexpr RegHandle HKEY_USERS = 0x80000003;
constexpr RegHandle HKEY_CURRENT_CONFIG = 0x80000005;
constexpr RegHandle HKEY_DYN_DATA = 0x80000006;

// Access rights; a handle refuses what it was not opened for.
constexpr quint32 KEY_QUERY_VALUE = 0x0001;
constexpr quint32 KEY_SET_VALUE = 0x0002;
constexpr quint32 KEY_CREATE_SUB_KEY = 0x0004;
constexpr quint32 KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr quint32 KEY_NOTIFY = 0x0010;
constexpr quint32 KEY_READ = 0x20019;
constexpr quint32 KEY_WRITE = 0x20006;
constexpr quint32 KEY_ALL_ACCESS = 0xF003F;

// Status codes (0 is success).
using RegStatus = long;
constexpr RegStatus ERROR_SUCCESS = 0;
constexpr RegStatus ERROR_FILE_NOT_FOUND = 2;
constexpr RegStatus ERROR_ACCESS_DENIED = 5;
constexpr RegStatus ERROR_INVALID_HANDLE = 6;
constexpr RegStatus ERROR_WRITE_FAULT = 29;
constexpr RegStatus ERROR_INVALID_PARAMETER = 87;
constexpr RegStatus ERROR_MORE_DATA = 234;
constexpr RegStatus ERROR_NOT_ENOUGH_QUOTA = 1816; // the change would pass a limit of the file

// Opens `subKey` (names joined by "\") below `base`, creating every missing key.
RegStatus RegCreateKeyEx(RegHandle base, const QString& subKey, quint32 access, RegHandle* result);
// Opens an existing key; never creates.
RegStatus RegOpenKeyEx(RegHandle base, const QString& subKey, quint32 access, RegHandle* result);
// With `data` null: reports type and size. Otherwise copies up to *size bytes
// (ERROR_MORE_DATA, with the needed size, when they do not fit). `type` may be null.
RegStatus RegQueryValueEx(RegHandle key, const QString& name, quint32* type, char* data,
                          quint32* size);
// Creates or replaces the value; refuses one over RegMaxValueBytes or whose line would pass
// RegMaxLineBytes (ERROR_INVALID_PARAMETER).
RegStatus RegSetValueEx(RegHandle key, const QString& name, quint32 type, const char* data,
                        quint32 size);
// Deletes `subKey` below `key` with all its subkeys.
RegStatus RegDeleteKeyTree(RegHandle key, const QString& subKey);
RegStatus RegCloseKey(RegHandle key);

// The file and its lock; what is read of a file is capped (the rest counts as missing).
QString UserRegistryPath();
constexpr qint64 UserRegistryReadCap = RegMaxTextBytes;

// While any session exists, the operations share one reading of the file: before using
// it each operation compares the file's stamp (inode, size, modification time) with that
// of the reading and reads the file again only when they differ; a write keeps what it
// wrote as the reading. A store object that holds a session for its life (one load or one
// save) so parses the file once and still sees what another instance saved meanwhile
// (those replace the file, giving it a new inode). Not seen: a write in place that keeps
// the size within the file system's timestamp granularity. The reading goes with the
// last session.
class TUserRegistrySession {
public:
    TUserRegistrySession();
    ~TUserRegistrySession();
    TUserRegistrySession(const TUserRegistrySession&) = delete;
    TUserRegistrySession& operator=(const TUserRegistrySession&) = delete;
};

// How many times this process has read and parsed the file.
quint64 UserRegistryReads();
