#pragma once
// The registry-backed store: TRegistry holds the root, the current key and the access
// mask over the per-user registry of platform/; TRegIniFile reads and writes text values
// as (section, ident) pairs below one application key. A store object lives for one
// load or one save and belongs to the user-interface thread.

#include "base/ProgramError.h"
#include "platform/UserRegistry.h"

#include <QString>

class ERegistryException : public EProgramError {
public:
    using EProgramError::EProgramError;
};

class TRegistry {
public:
    TRegistry();
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    RegHandle RootKey() const { return rootKey_; }
    void SetRootKey(RegHandle root); // releases the current key
    RegHandle CurrentKey() const { return currentKey_; }
    QString CurrentPath() const { return currentPath_; }
    quint32 Access() const { return access_; }
    void SetAccess(quint32 access) { access_ = access; }
    bool LazyWrite() const { return true; }

    // A path beginning with "\" is taken from the root, any other from the current key
    // (or the root when none is open). Never throws; false leaves the current key as is.
    bool OpenKeyPath(const QString& path, bool create);
    // Creates the key with full access whatever the mask; throws "Failed to create key %s".
    void MakeKey(const QString& path);
    // Not made current; the caller releases it. 0 when it cannot be opened.
    RegHandle OpenChildKey(const QString& path);
    bool HasValue(const QString& name);
    int ValueSize(const QString& name); // -1 when the value cannot be queried
    QString ReadTextValue(const QString& name);
    void WriteTextValue(const QString& name, const QString& text);
    void ReleaseCurrentKey();

protected:
    // Makes `key` current for the lifetime of the object and then puts the old one back;
    // `key` itself is released at the end.
    class BorrowedKey {
    public:
        BorrowedKey(TRegistry& reg, RegHandle key);
        ~BorrowedKey();

    private:
        TRegistry& reg_;
        RegHandle key_;
        RegHandle oldKey_;
        QString oldPath_;
    };

private:
    // The base handle and the path relative to it.
    RegHandle Resolve(const QString& path, QString* relative, bool* isRelative) const;

    // The object lives for one load or one save: the file is parsed once for all of it.
    TUserRegistrySession session_;
    RegHandle rootKey_ = HKEY_CURRENT_USER;
    RegHandle currentKey_ = 0;
    QString currentPath_;
    quint32 access_ = KEY_ALL_ACCESS;
};

class TRegIniFile : public TRegistry {
public:
    // Opens the application key, creating it when missing; when that fails too the store
    // simply has no current key and sections are taken from the root.
    explicit TRegIniFile(const QString& keyPath, quint32 access = KEY_ALL_ACCESS);

    QString KeyPath() const { return keyPath_; }

    QString ReadSectionText(const QString& section, const QString& ident, const QString& def);
    void WriteSectionText(const QString& section, const QString& ident, const QString& text);
    int ReadInt(const QString& section, const QString& ident, int def);
    void WriteInt(const QString& section, const QString& ident, int value);
    void WriteFlag(const QString& section, const QString& ident, bool value);
    void RemoveSection(const QString& section);

private:
    QString keyPath_;
};
