#include "platform/RegistryFile.h"

#include <QStringDecoder>

QString RegFoldName(const QString& name) {
    QString folded = name;
    for (QChar& c : folded)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return folded;
}

TRegKey* TRegKey::Child(const QString& name) {
    const auto it = childIndex_.constFind(RegFoldName(name));
    return it == childIndex_.cend() ? nullptr : &children_[*it];
}

const TRegKey* TRegKey::Child(const QString& name) const {
    return const_cast<TRegKey*>(this)->Child(name);
}

TRegKey& TRegKey::AddChild(const QString& name) {
    if (TRegKey* existing = Child(name))
        return *existing;
    childIndex_.insert(RegFoldName(name), children_.size());
    children_.emplace_back();
    children_.back().name = name;
    return children_.back();
}

bool TRegKey::RemoveChild(const QString& name) {
    const auto it = childIndex_.constFind(RegFoldName(name));
    if (it == childIndex_.cend())
        return false;
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(*it));
    childIndex_.clear();
    for (size_t i = 0; i < children_.size(); ++i)
        childIndex_.insert(RegFoldName(children_[i].name), i);
    return true;
}

const TRegValue* TRegKey::Value(const QString& name) const {
    const auto it = valueIndex_.constFind(RegFoldName(name));
    return it == valueIndex_.cend() ? nullptr : &values_[*it];
}

void TRegKey::SetValue(const TRegValue& value) {
    const QString folded = RegFoldName(value.name);
    const auto it = valueIndex_.constFind(folded);
    if (it != valueIndex_.cend()) {
        values_[*it].type = value.type;
        values_[*it].data = value.data;
        return;
    }
    valueIndex_.insert(folded, values_.size());
    values_.push_back(value);
}

const TRegKey* TRegKey::Find(const QStringList& path) const {
    return const_cast<TRegKey*>(this)->Find(path);
}

TRegKey* TRegKey::Find(const QStringList& path) {
    TRegKey* key = this;
    for (const QString& part : path) {
        key = key->Child(part);
        if (!key)
            return nullptr;
    }
    return key;
}

bool RegNameIsStorable(const QString& name) {
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    return true;
}

namespace {

const QByteArray RootName = "HKEY_CURRENT_USER";

bool IsBlank(const QByteArray& line) {
    for (char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

bool IsValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits, nothing else.
bool ParseHex32(const QByteArray& text, quint32* out) {
    if (text.isEmpty() || text.size() > 8)
        return false;
    quint32 v = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<quint32>(d);
    }
    *out = v;
    return true;
}

// "a\\b\"c" starting at `pos` (on the opening quote); `pos` ends after the closing one.
bool ParseQuoted(const QByteArray& line, qsizetype& pos, QByteArray* out) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos >= line.size())
                return false;
            const char e = line[pos++];
            if (e != '\\' && e != '"')
                return false;
            out->append(e);
        } else {
            out->append(c);
        }
    }
    return false;
}

bool ParseHexBytes(const QByteArray& text, QByteArray* out) {
    out->clear();
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return true;
    for (const QByteArray& item : trimmed.split(',')) {
        const QByteArray byte = item.trimmed();
        if (byte.size() != 2 || HexDigit(byte[0]) < 0 || HexDigit(byte[1]) < 0)
            return false;
        out->append(static_cast<char>(HexDigit(byte[0]) * 16 + HexDigit(byte[1])));
    }
    return true;
}

// Everything after "=" of a value line.
bool ParseData(const QByteArray& data, bool complete, TRegValue* value) {
    if (data.startsWith('"')) {
        qsizetype pos = 0;
        QByteArray text;
        if (!ParseQuoted(data, pos, &text) || pos != data.size())
            return false;
        value->type = REG_SZ;
        value->data = text + '\0';
        return true;
    }
    // A cut-off number or byte list would still parse, into a wrong value.
    if (!complete)
        return false;
    if (data.startsWith("dword:")) {
        quint32 v = 0;
        if (!ParseHex32(data.mid(6), &v))
            return false;
        value->type = REG_DWORD;
        value->data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value->data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (data.startsWith("hex:")) {
        value->type = REG_BINARY;
        return ParseHexBytes(data.mid(4), &value->data);
    }
    if (data.startsWith("hex(")) {
        const qsizetype close = data.indexOf(')');
        if (close < 0 || close + 1 >= data.size() || data[close + 1] != ':')
            return false;
        if (!ParseHex32(data.mid(4, close - 4), &value->type))
            return false;
        return ParseHexBytes(data.mid(close + 2), &value->data);
    }
    return false;
}

bool ParseValueLine(const QByteArray& line, bool complete, TRegValue* value) {
    qsizetype pos = 0;
    if (line.startsWith('@')) {
        value->name.clear();
        pos = 1;
    } else {
        QByteArray name;
        if (!ParseQuoted(line, pos, &name))
            return false;
        value->name = QString::fromUtf8(name);
        if (!RegNameIsStorable(value->name))
            return false;
    }
    if (pos >= line.size() || line[pos] != '=')
        return false;
    return ParseData(line.mid(pos + 1), complete, value);
}

// A value line whose data is a byte list ("hex:" or "hex(N):"), as opposed to a text
// that merely contains such letters.
bool IsByteListLine(const QByteArray& line) {
    qsizetype pos = 1;
    QByteArray name;
    if (!line.startsWith('@')) {
        pos = 0;
        if (!ParseQuoted(line, pos, &name))
            return false;
    }
    return pos < line.size() && line[pos] == '=' && line.mid(pos + 1).startsWith("hex");
}

// Hex digits, commas and blanks only, perhaps ending in "\" itself.
bool IsContinuationLine(QByteArray line) {
    if (line.endsWith('\r'))
        line.chop(1);
    line = line.trimmed();
    if (line.endsWith('\\'))
        line.chop(1);
    if (line.isEmpty())
        return false;
    for (char c : line)
        if (HexDigit(c) < 0 && c != ',' && c != ' ' && c != '\t')
            return false;
    return true;
}

// "[HKEY_CURRENT_USER\a\b]" -> {"a","b"}; false when it is not a key of this root.
bool ParseKeyLine(const QByteArray& line, QStringList* path) {
    if (line.size() < 2 || !line.startsWith('[') || !line.endsWith(']'))
        return false;
    const QString inner = QString::fromUtf8(line.mid(1, line.size() - 2));
    QStringList parts = inner.split(u'\\');
    if (RegFoldName(parts.first()) != RegFoldName(QString::fromLatin1(RootName)))
        return false;
    parts.removeFirst();
    if (parts.size() > RegMaxKeyDepth)
        return false;
    for (const QString& part : parts)
        if (part.isEmpty() || !RegNameIsStorable(part))
            return false;
    *path = parts;
    return true;
}

QByteArray Quote(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out.append('"');
    for (char c : bytes) {
        if (c == '\\' || c == '"')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

QByteArray HexList(const QByteArray& data) {
    QByteArray out;
    out.reserve(data.size() * 3);
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i)
            out.append(',');
        out.append(QByteArray::number(static_cast<quint8>(data[i]), 16).rightJustified(2, '0'));
    }
    return out;
}

// Text that fits between quotes and reads back to the very same bytes.
bool IsQuotableText(const QByteArray& data) {
    if (data.isEmpty() || data.back() != '\0')
        return false;
    const QByteArray text = data.first(data.size() - 1);
    return !text.contains('\0') && !text.contains('\n') && !text.contains('\r') &&
           IsValidUtf8(text);
}

QByteArray FormatValue(const TRegValue& v) {
    QByteArray line = v.name.isEmpty() ? QByteArray("@") : Quote(v.name.toUtf8());
    line.append('=');
    if (v.type == REG_SZ && IsQuotableText(v.data))
        line.append(Quote(v.data.first(v.data.size() - 1)));
    else if (v.type == REG_DWORD && v.data.size() == 4) {
        quint32 n = 0;
        for (int i = 3; i >= 0; --i)
            n = (n << 8) | static_cast<quint8>(v.data[i]);
        line.append("dword:" + QByteArray::number(n, 16).rightJustified(8, '0'));
    } else if (v.type == REG_BINARY)
        line.append("hex:" + HexList(v.data));
    else
        line.append("hex(" + QByteArray::number(v.type, 16) + "):" + HexList(v.data));
    line.append('\n');
    return line;
}

// "[" path "]\n", its values, then "\n"; `pathBytes` counts from "HKEY_CURRENT_USER" on.
constexpr qsizetype KeyBytes(qsizetype pathBytes) {
    return pathBytes + 4;
}

constexpr qsizetype HeaderBytes = 10; // "REGEDIT4\n\n"

void FormatKey(const TRegKey& key, const QByteArray& path, bool isRoot, QByteArray* out) {
    if (!isRoot || !key.Values().empty()) {
        out->append('[' + path + "]\n");
        for (const TRegValue& v : key.Values())
            out->append(FormatValue(v));
        out->append('\n');
    }
    for (const TRegKey& child : key.Children())
        FormatKey(child, path + '\\' + child.name.toUtf8(), false, out);
}

void MeasureKey(const TRegKey& key, qsizetype pathBytes, bool isRoot, TRegTreeSize* size) {
    if (!isRoot || !key.Values().empty())
        size->textBytes += KeyBytes(pathBytes);
    for (const TRegValue& v : key.Values())
        size->textBytes += FormatValue(v).size();
    size->values += static_cast<qsizetype>(key.Values().size());
    for (const TRegKey& child : key.Children()) {
        ++size->keys;
        MeasureKey(child, pathBytes + 1 + child.name.toUtf8().size(), false, size);
    }
}

// The reader's state: the tree so far and what it would cost to write.
class TreeBuilder {
public:
    TRegKey root;
    TRegTreeSize size{0, 0, HeaderBytes};
    TRegTreeSize limit{RegMaxKeyCount, RegMaxValueCount, RegMaxTextBytes};

    // The key of a key line, created with the keys on its way; null when that would pass
    // a limit (then nothing is created).
    TRegKey* OpenPath(const QStringList& path) {
        TRegKey* key = &root;
        qsizetype pathBytes = RootName.size();
        qsizetype newKeys = 0;
        qsizetype newBytes = 0;
        for (const QString& part : path) {
            pathBytes += 1 + part.toUtf8().size();
            TRegKey* next = key ? key->Child(part) : nullptr;
            if (!next) {
                ++newKeys;
                newBytes += KeyBytes(pathBytes);
            }
            key = next;
        }
        if (size.keys + newKeys > limit.keys || size.textBytes + newBytes > limit.textBytes)
            return nullptr;
        size.keys += newKeys;
        size.textBytes += newBytes;
        key = &root;
        for (const QString& part : path)
            key = &key->AddChild(part);
        return key;
    }

    // False when the value would pass a limit (then the key is left as it was).
    bool SetValue(TRegKey* key, const TRegValue& value) {
        const TRegValue* old = key->Value(value.name);
        qsizetype bytes = FormatValue(value).size();
        if (old)
            bytes -= FormatValue(*old).size();
        else if (key == &root && root.Values().empty())
            bytes += KeyBytes(RootName.size());
        const qsizetype values = size.values + (old ? 0 : 1);
        if (values > limit.values || size.textBytes + bytes > limit.textBytes)
            return false;
        size.values = values;
        size.textBytes += bytes;
        key->SetValue(value);
        return true;
    }
};

void MergeKey(TreeBuilder& tree, const TRegKey& from, QStringList& path, bool* whole) {
    TRegKey* key = path.isEmpty() ? &tree.root : tree.OpenPath(path);
    if (!key) {
        *whole = false;
        return;
    }
    for (const TRegValue& v : from.Values())
        if (!key->Value(v.name) && !tree.SetValue(key, v))
            *whole = false;
    for (const TRegKey& child : from.Children()) {
        path.append(child.name);
        MergeKey(tree, child, path, whole);
        path.removeLast();
    }
}

// The text line by line, without copying it whole.
class LineReader {
public:
    explicit LineReader(const QByteArray& text) : text_(text) {
        if (text_.startsWith("\xEF\xBB\xBF"))
            pos_ = 3;
    }
    bool AtEnd() const { return pos_ >= text_.size() && !pendingEmpty_; }
    // The next line without its "\n" (and "\r"); `complete` is false for a last line that
    // the file ends inside.
    QByteArrayView Peek(bool* complete) const {
        const qsizetype end = text_.indexOf('\n', pos_);
        *complete = end >= 0;
        QByteArrayView line(text_.constData() + pos_, (end < 0 ? text_.size() : end) - pos_);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }
    void Skip() {
        const qsizetype end = text_.indexOf('\n', pos_);
        pos_ = end < 0 ? text_.size() : end + 1;
        pendingEmpty_ = false;
    }

private:
    const QByteArray& text_;
    qsizetype pos_ = 0;
    bool pendingEmpty_ = true; // an empty text is one empty line
};

} // namespace

qsizetype RegValueLineBytes(const TRegValue& value) {
    return FormatValue(value).size();
}

qsizetype RegKeyLineBytes(const QStringList& path) {
    qsizetype bytes = 1 + RootName.size() + 2;
    for (const QString& part : path)
        bytes += 1 + part.toUtf8().size();
    return bytes;
}

TRegTreeSize MeasureRegistryTree(const TRegKey& root) {
    TRegTreeSize size{0, 0, HeaderBytes};
    MeasureKey(root, RootName.size(), true, &size);
    return size;
}

bool RegMergeWithinLimits(TRegKey& into, const TRegKey& from) {
    TreeBuilder tree;
    tree.limit = {RegMaxKeyCount / 2, RegMaxValueCount / 2, RegMaxTextBytes / 2};
    tree.size = MeasureRegistryTree(into);
    tree.root = std::move(into);
    bool whole = true;
    QStringList path;
    MergeKey(tree, from, path, &whole);
    into = std::move(tree.root);
    return whole;
}

TRegKey ParseRegistryText(const QByteArray& text, bool* clean) {
    TreeBuilder tree;
    bool ok = true;
    LineReader lines(text);
    TRegKey* current = nullptr;
    bool headerSeen = false;
    while (!lines.AtEnd()) {
        bool complete = true;
        const QByteArrayView view = lines.Peek(&complete);
        lines.Skip();
        if (!complete && !view.isEmpty())
            ok = false; // cut off
        if (view.size() > RegMaxLineBytes) {
            ok = false;
            if (view.startsWith('['))
                current = nullptr; // whatever follows is not its values
            continue;
        }
        QByteArray line = view.toByteArray();
        if (IsBlank(line))
            continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == "REGEDIT4")
                continue;
            ok = false;
        }
        if (line.startsWith('[')) {
            QStringList path;
            current = nullptr; // a refused key line's values must not land in the key before it
            if (line.count('\\') > RegMaxKeyDepth || !IsValidUtf8(line) ||
                !ParseKeyLine(line, &path) || !(current = tree.OpenPath(path)))
                ok = false;
            continue;
        }
        // A byte list may go on over lines that end in "\". Only lines of hex bytes carry
        // it on: a key or value line after a cut-off list keeps its own place, and the
        // list, still ending in "\", is refused as damaged.
        bool tooLong = false;
        if (IsByteListLine(line)) {
            bool goesOn = line.endsWith('\\');
            while (goesOn && !lines.AtEnd()) {
                bool nextComplete = true;
                const QByteArrayView next = lines.Peek(&nextComplete);
                if (!IsContinuationLine(next.toByteArray()))
                    break;
                lines.Skip();
                if (!nextComplete)
                    ok = false;
                complete = nextComplete;
                const QByteArrayView piece = next.trimmed();
                goesOn = piece.endsWith('\\');
                // Past the limit the rest of the list is read over, not kept.
                tooLong = tooLong || line.size() + piece.size() > RegMaxLineBytes;
                if (!tooLong) {
                    line.chop(1);
                    line.append(piece);
                }
            }
        }
        TRegValue value;
        if (tooLong || !current || !IsValidUtf8(line) || !ParseValueLine(line, complete, &value) ||
            value.data.size() > RegMaxValueBytes) {
            ok = false;
            continue;
        }
        if (current->Value(value.name))
            ok = false; // given twice: the later one wins, the earlier one survives aside
        if (!tree.SetValue(current, value))
            ok = false;
    }
    if (clean)
        *clean = ok;
    return std::move(tree.root);
}

QByteArray FormatRegistryText(const TRegKey& root) {
    QByteArray out = "REGEDIT4\n\n";
    FormatKey(root, RootName, true, &out);
    return out;
}
