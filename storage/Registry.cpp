#include "storage/Registry.h"

#include "storage/IntegerText.h"

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
    ReleaseCurrentKey();
}

void TRegistry::SetRootKey(RegHandle root) {
    if (root == rootKey_)
        return;
    ReleaseCurrentKey();
    rootKey_ = root;
}

RegHandle TRegistry::Resolve(const QString& path, QString* relative, bool* isRelative) const {
    *isRelative = !path.startsWith(u'\\');
    *relative = *isRelative ? path : path.mid(1);
    return *isRelative && currentKey_ ? currentKey_ : rootKey_;
}

bool TRegistry::OpenKeyPath(const QString& path, bool create) {
    QString relative;
    bool isRelative = false;
    const RegHandle base = Resolve(path, &relative, &isRelative);
    RegHandle key = 0;
    const RegStatus status = create && !relative.isEmpty()
                                 ? RegCreateKeyEx(base, relative, access_, &key)
                                 : RegOpenKeyEx(base, relative, access_, &key);
    if (status != ERROR_SUCCESS)
        return false;
    const QString newPath = isRelative && currentKey_ && !currentPath_.isEmpty()
                                ? currentPath_ + u'\\' + relative
                                : relative;
    ReleaseCurrentKey();
    currentKey_ = key;
    currentPath_ = newPath;
    return true;
}

void TRegistry::MakeKey(const QString& path) {
    QString relative;
    bool isRelative = false;
    const RegHandle base = Resolve(path, &relative, &isRelative);
    RegHandle key = 0;
    if (RegCreateKeyEx(base, relative, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        throw ERegistryException(QStringLiteral("Failed to create key %1").arg(path));
    RegCloseKey(key);
}

RegHandle TRegistry::OpenChildKey(const QString& path) {
    QString relative;
    bool isRelative = false;
    const RegHandle base = Resolve(path, &relative, &isRelative);
    RegHandle key = 0;
    return RegOpenKeyEx(base, relative, access_, &key) == ERROR_SUCCESS ? key : 0;
}

bool TRegistry::HasValue(const QString& name) {
    return ValueSize(name) >= 0;
}

int TRegistry::ValueSize(const QString& name) {
    quint32 size = 0;
    if (RegQueryValueEx(currentKey_, name, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(size);
}

QString TRegistry::ReadTextValue(const QString& name) {
    const int size = ValueSize(name);
    if (size <= 0)
        return QString();
    QByteArray data(size, '\0');
    quint32 type = REG_NONE;
    auto got = static_cast<quint32>(size);
    RegStatus status = RegQueryValueEx(currentKey_, name, &type, data.data(), &got);
    // Another running instance may have lengthened the value since it was measured.
    for (int retry = 0; status == ERROR_MORE_DATA && retry < 3; ++retry) {
        data.resize(static_cast<qsizetype>(got));
        status = RegQueryValueEx(currentKey_, name, &type, data.data(), &got);
    }
    if (status != ERROR_SUCCESS)
        throw ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(name));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    data.truncate(got);
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    return QString::fromUtf8(data);
}

void TRegistry::WriteTextValue(const QString& name, const QString& text) {
    const QByteArray data = text.toUtf8() + '\0';
    if (RegSetValueEx(currentKey_, name, REG_SZ, data.constData(),
                      static_cast<quint32>(data.size())) != ERROR_SUCCESS)
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

void TRegistry::ReleaseCurrentKey() {
    if (currentKey_)
        RegCloseKey(currentKey_);
    currentKey_ = 0;
    currentPath_.clear();
}

TRegistry::BorrowedKey::BorrowedKey(TRegistry& reg, RegHandle key)
    : reg_(reg), key_(key), oldKey_(reg.currentKey_), oldPath_(reg.currentPath_) {
    reg_.currentKey_ = key_;
}

TRegistry::BorrowedKey::~BorrowedKey() {
    reg_.currentKey_ = oldKey_;
    reg_.currentPath_ = oldPath_;
    RegCloseKey(key_);
}

TRegIniFile::TRegIniFile(const QString& keyPath, quint32 access) : keyPath_(keyPath) {
    SetRootKey(HKEY_CURRENT_USER);
    SetAccess(access);
    OpenKeyPath(keyPath, true);
}

QString TRegIniFile::ReadSectionText(const QString& section, const QString& ident,
                                     const QString& def) {
    const RegHandle key = OpenChildKey(section);
    if (!key)
        return def;
    BorrowedKey borrowed(*this, key);
    return HasValue(ident) ? ReadTextValue(ident) : def;
}

void TRegIniFile::WriteSectionText(const QString& section, const QString& ident,
                                   const QString& text) {
    MakeKey(section);
    const RegHandle key = OpenChildKey(section);
    if (!key)
        return;
    BorrowedKey borrowed(*this, key);
    WriteTextValue(ident, text);
}

int TRegIniFile::ReadInt(const QString& section, const QString& ident, int def) {
    return TextToIntDef(ReadSectionText(section, ident, QString()), def);
}

void TRegIniFile::WriteInt(const QString& section, const QString& ident, int value) {
    WriteSectionText(section, ident, QString::number(value));
}

void TRegIniFile::WriteFlag(const QString& section, const QString& ident, bool value) {
    WriteSectionText(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TRegIniFile::RemoveSection(const QString& section) {
    RegDeleteKeyTree(CurrentKey() ? CurrentKey() : RootKey(), section);
}
