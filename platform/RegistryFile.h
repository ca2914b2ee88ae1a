#pragma once
// The per-user registry as a tree in memory and its text form (the registry export
// format, UTF-8, LF line ends). Pure data: no file access here.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

// Value type codes as the registry defines them.
enum : quint32 {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
};

struct RegValue {
    QString name; // empty: the key's default value ("@" in the file)
    quint32 type = REG_SZ;
    QByteArray data;
};

// Names compare without regard to ASCII case and keep the case they were created with.
QString RegFoldName(const QString& name);

class RegKey {
public:
    QString name;

    RegKey* child(const QString& name);
    const RegKey* child(const QString& name) const;
    RegKey& addChild(const QString& name); // the existing child when there is one
    bool removeChild(const QString& name);
    const std::vector<RegKey>& children() const { return children_; }

    const RegValue* value(const QString& name) const;
    void setValue(const RegValue& value); // replaces, keeping the first spelling and order
    const std::vector<RegValue>& values() const { return values_; }

    // Walks a path of names; null when a key on the way is missing.
    const RegKey* find(const QStringList& path) const;
    RegKey* find(const QStringList& path);

private:
    std::vector<RegKey> children_;
    std::vector<RegValue> values_;
    // Folded name -> position; keeps huge files from turning lookups quadratic.
    QHash<QString, size_t> childIndex_;
    QHash<QString, size_t> valueIndex_;
};

// Deeper paths count as damage (they also bound the recursion of the writer).
constexpr int RegMaxKeyDepth = 256;

// Reads what can be read. `clean` becomes false when anything was not understood
// (bad header, malformed line, invalid UTF-8, a value given twice, ...): such a file
// must be kept aside before it is replaced.
RegKey ParseRegistryText(const QByteArray& text, bool* clean);

// The root is HKEY_CURRENT_USER; it is written as a key only when it holds values.
QByteArray FormatRegistryText(const RegKey& root);

// A key or value name the text form can carry (no line breaks or other control codes).
bool RegNameIsStorable(const QString& name);
