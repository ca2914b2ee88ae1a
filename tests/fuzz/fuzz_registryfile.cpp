// libFuzzer target for the settings-file reader. Whatever the reader makes of any
// input must format into a file that reads back clean, with the same keys and values,
// and formats identically again, within the limits and at the size it was counted at;
// and no well-formed key line within the limits may be lost.

#include "platform/RegistryFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Fail(const char* what, const QByteArray& text) {
    std::fprintf(stderr, "%s\n%s\n", what, text.toPercentEncoding().constData());
    std::abort();
}

// Every value of a clean read must survive formatting: same keys, same types, same bytes.
bool SameTree(const TRegKey& a, const TRegKey& b) {
    if (a.Values().size() != b.Values().size() || a.Children().size() != b.Children().size())
        return false;
    for (const TRegValue& v : a.Values()) {
        const TRegValue* w = b.Value(v.name);
        if (!w || w->data != v.data || w->type != v.type)
            return false;
    }
    for (const TRegKey& child : a.Children()) {
        const TRegKey* other = b.Child(child.name);
        if (!other || !SameTree(child, *other))
            return false;
    }
    return true;
}

// Every well-formed key line of this root names a key of the tree, whatever surrounds
// it: no continuation or damage above it may swallow it.
void CheckKeyLines(const QByteArray& text, const TRegKey& root) {
    // Near the key count or the text cap a sound key line may be refused.
    const TRegTreeSize size = MeasureRegistryTree(root);
    if (size.keys + RegMaxKeyDepth > RegMaxKeyCount ||
        size.textBytes + RegMaxKeyDepth * (RegMaxLineBytes + 4) > RegMaxTextBytes)
        return;
    QList<QByteArray> lines = text.split('\n');
    if (lines.first().startsWith("\xEF\xBB\xBF"))
        lines.first().remove(0, 3);
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() < 2 || line.size() > RegMaxLineBytes || !line.startsWith('[') ||
            !line.endsWith(']'))
            continue;
        const QByteArray inner = line.mid(1, line.size() - 2);
        const QString decoded = QString::fromUtf8(inner);
        if (decoded.toUtf8() != inner)
            continue; // not UTF-8: damage
        QStringList parts = decoded.split(u'\\');
        if (RegFoldName(parts.takeFirst()) != QStringLiteral("hkey_current_user") ||
            parts.size() > RegMaxKeyDepth)
            continue;
        bool wellFormed = true;
        for (const QString& part : parts)
            wellFormed = wellFormed && !part.isEmpty() && RegNameIsStorable(part);
        if (wellFormed && !root.Find(parts))
            Fail("key line lost", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool clean = false;
    const TRegKey root = ParseRegistryText(text, &clean);
    CheckKeyLines(text, root);
    const QByteArray once = FormatRegistryText(root);
    const TRegTreeSize kept = MeasureRegistryTree(root);
    if (!kept.WithinLimits() || kept.textBytes != once.size())
        Fail("what was kept passes the limits or was counted wrong", text);
    bool again = false;
    const TRegKey reread = ParseRegistryText(once, &again);
    if (!again)
        Fail("formatted text reads as damaged", text);
    if (!SameTree(root, reread))
        Fail("formatted text reads back different values", text);
    if (FormatRegistryText(reread) != once)
        Fail("formatting is not stable", text);
    return 0;
}
