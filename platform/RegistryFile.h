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

struct TRegValue {
    QString name; // empty: the key's default value ("@" in the file)
    quint32 type = REG_SZ;
    QByteArray data;
};

// Names compare without regard to ASCII case and keep the case they were created with.
QString RegFoldName(const QString& name);

class TRegKey {
public:
    QString name;

    TRegKey* Child(const QString& name);
    const TRegKey* Child(const QString& name) const;
    TRegKey& AddChild(const QString& name); // the existing child when there is one
    bool RemoveChild(const QString& name);
    const std::vector<TRegKey>& Children() const { return children_; }

    const TRegValue* Value(const QString& name) const;
    void SetValue(const TRegValue& value); // replaces, keeping the first spelling and order
    const std::vector<TRegValue>& Values() const { return values_; }

    // Walks a path of names; null when a key on the way is missing.
    const TRegKey* Find(const QStringList& path) const;
    TRegKey* Find(const QStringList& path);

private:
    std::vector<TRegKey> children_;
    std::vector<TRegValue> values_;
    // Folded name -> position; keeps huge files from turning lookups quadratic.
    QHash<QString, size_t> childIndex_;
    QHash<QString, size_t> valueIndex_;
};

// What a file may hold. The program itself keeps four short values under a key three
// levels deep; these are far above that, and what lies beyond them counts as damage (the
// file is kept aside and what fits is used), so a hostile or runaway file cannot take
// the machine's memory, and what is written back stays as small as what was read.
constexpr int RegMaxKeyDepth = 32;                     // levels below the root
constexpr qsizetype RegMaxKeyCount = 4096;             // keys in the tree, root not counted
constexpr qsizetype RegMaxValueCount = 16384;          // values in the tree
constexpr qsizetype RegMaxLineBytes = 64 * 1024;       // one line, continued lines joined
constexpr qsizetype RegMaxValueBytes = 16 * 1024;      // the data of one value
constexpr qsizetype RegMaxTextBytes = 4 * 1024 * 1024; // the whole text, read or written

// A tree as the limits count it; `textBytes` is the size FormatRegistryText gives it.
struct TRegTreeSize {
    qsizetype keys = 0;
    qsizetype values = 0;
    qsizetype textBytes = 0;
    bool WithinLimits() const {
        return keys <= RegMaxKeyCount && values <= RegMaxValueCount && textBytes <= RegMaxTextBytes;
    }
};
TRegTreeSize MeasureRegistryTree(const TRegKey& root);

// Adds to `into` the keys and values of `from` that it lacks, in order, while the tree
// stays within half the limits, so that later changes find room; false when something
// was left out. `into` itself may fill the half.
bool RegMergeWithinLimits(TRegKey& into, const TRegKey& from);

// Reads what can be read, within the limits above. `clean` becomes false when anything
// was not understood or not kept (bad header, malformed line, invalid UTF-8, a value
// given twice, a limit passed, ...): such a file must be kept aside before it is
// replaced. What is kept always formats within the limits.
TRegKey ParseRegistryText(const QByteArray& text, bool* clean);

// The root is HKEY_CURRENT_USER; it is written as a key only when it holds values. Every
// other key is written, those that only lead to deeper ones included.
QByteArray FormatRegistryText(const TRegKey& root);

// The length of the line that FormatRegistryText gives a value, line break included.
qsizetype RegValueLineBytes(const TRegValue& value);
// The length of the key line of `path` (below the root), line break included.
qsizetype RegKeyLineBytes(const QStringList& path);

// A key or value name the text form can carry (no line breaks or other control codes).
bool RegNameIsStorable(const QString& name);
