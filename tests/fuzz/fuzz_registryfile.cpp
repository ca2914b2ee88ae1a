// libFuzzer target for the settings-file reader. Whatever the reader makes of any
// input must format into a file that reads back clean, with the same keys and values,
// and formats identically again.

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
bool SameTree(const RegKey& a, const RegKey& b) {
    if (a.values().size() != b.values().size() || a.children().size() != b.children().size())
        return false;
    for (const RegValue& v : a.values()) {
        const RegValue* w = b.value(v.name);
        if (!w || w->data != v.data || w->type != v.type)
            return false;
    }
    for (const RegKey& child : a.children()) {
        const RegKey* other = b.child(child.name);
        if (!other || !SameTree(child, *other))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool clean = false;
    const RegKey root = ParseRegistryText(text, &clean);
    const QByteArray once = FormatRegistryText(root);
    bool again = false;
    const RegKey reread = ParseRegistryText(once, &again);
    if (!again)
        Fail("formatted text reads as damaged", text);
    if (!SameTree(root, reread))
        Fail("formatted text reads back different values", text);
    if (FormatRegistryText(reread) != once)
        Fail("formatting is not stable", text);
    return 0;
}
