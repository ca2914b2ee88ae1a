// libFuzzer target for the property lines of the stored settings and the conversion of
// stored texts into property values. Input: stored-property lines ("comp.prop"), a
// blank line, then "ident=text" pairs that the store hands back.
//
// Checked: a parsed line has two trimmed non-empty parts; a bound list holds only bound
// valid lines; property setters that rename or destroy components mid-list are survived;
// whatever a property took from a stored text writes out as a text that reads back to
// the same text (write, read, write is stable); the integer conversion agrees with its
// own decimal output.

#include "storage/IntegerText.h"
#include "storage/RXProps.h"
#include "tests/fuzz/FuzzComponent.h"

#include <QCoreApplication>
#include <QHash>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void Fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "%s: %s\n", what, detail.toUtf8().constData());
    std::abort();
}

bool IsControlEdge(const QString& s) {
    return !s.isEmpty() && (s.front().unicode() <= 32 || s.back().unicode() <= 32);
}

using TextMap = QHash<QString, QString>; // folded ident -> text

TextMap WriteAll(QObject* owner, const QStringList& lines) {
    TextMap out;
    TStoredPropList list;
    for (const QString& l : lines)
        list.append(TStoredLine(l));
    TPropsStorage::ResolveStoredList(owner, list, true);
    TPropsStorage storage;
    storage.Section = QStringLiteral("TformMain");
    storage.OnWriteText = [&](const QString&, const QString& ident, const QString& text) {
        out.insert(ident.toLower(), text);
    };
    storage.WriteComponentProps(owner, list);
    return out;
}

void ReadAll(QObject* owner, const QStringList& lines, const TextMap& texts) {
    TStoredPropList list;
    for (const QString& l : lines)
        list.append(TStoredLine(l));
    TPropsStorage::ResolveStoredList(owner, list, true);
    TPropsStorage storage;
    storage.Section = QStringLiteral("TformMain");
    storage.OnReadText = [&](const QString&, const QString& ident, const QString& def) {
        return texts.value(ident.toLower(), def);
    };
    storage.ReadComponentProps(owner, list);
}

const QStringList AllProps = {"c.Checked", "c.Tag",    "c.FileName", "c.Big",
                              "c.Ratio",   "c.Letter", "c.Mode"};

void CheckInteger(const QString& text) {
    int value = 0;
    if (!TextToInt(text, &value))
        return;
    int back = 0;
    if (!TextToInt(QString::number(value), &back) || back != value)
        Fail("integer does not read back", text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype split = input.indexOf(QStringLiteral("\n\n"));
    const QStringList lines =
        (split < 0 ? input : input.left(split)).split(u'\n', Qt::SkipEmptyParts);
    TextMap texts;
    if (split >= 0) {
        for (const QString& pair : input.mid(split + 2).split(u'\n')) {
            const qsizetype eq = pair.indexOf(u'=');
            if (eq > 0)
                texts.insert(pair.left(eq).toLower(), pair.mid(eq + 1));
            CheckInteger(pair.mid(eq + 1));
        }
    }

    for (const QString& line : lines) {
        QString component, property;
        if (!ParseStoredLine(line, &component, &property))
            continue;
        if (component.isEmpty() || property.isEmpty() || IsControlEdge(component) ||
            IsControlEdge(property) || component.contains(u'.'))
            Fail("badly split line", line);
    }

    // The fuzzed lines against a window whose setters rename and destroy components.
    {
        QObject owner;
        owner.setObjectName(QStringLiteral("formMain"));
        for (const char* name : {"cbCheck", "cbPort", "OpenDialog1", "c", "d"})
            (new TFuzzComponent(&owner))->setObjectName(QString::fromLatin1(name));
        TStoredPropList list;
        for (const QString& l : lines)
            list.append(TStoredLine(l));
        TPropsStorage::ResolveStoredList(&owner, list, true);
        for (const TStoredLine& l : list) {
            QString component, property;
            if (!l.Object || !ParseStoredLine(l.Text, &component, &property))
                Fail("unbound or invalid line kept", l.Text);
        }
        TPropsStorage storage;
        storage.Section = QStringLiteral("TformMain");
        storage.OnReadText = [&](const QString&, const QString& ident, const QString& def) {
            return texts.value(ident.toLower(), def);
        };
        storage.ReadComponentProps(&owner, list);
        storage.OnWriteText = [](const QString&, const QString&, const QString&) {};
        storage.WriteComponentProps(&owner, list);
    }

    // Write, read, write: what a property took from a stored text must be stable.
    {
        QObject first;
        (new TFuzzComponent(&first))->setObjectName(QStringLiteral("c"));
        ReadAll(&first, AllProps, texts);
        const TextMap once = WriteAll(&first, AllProps);
        QObject second;
        (new TFuzzComponent(&second))->setObjectName(QStringLiteral("c"));
        ReadAll(&second, AllProps, once);
        const TextMap twice = WriteAll(&second, AllProps);
        if (once != twice) {
            for (auto it = once.cbegin(); it != once.cend(); ++it)
                if (twice.value(it.key()) != it.value())
                    Fail("stored text not stable",
                         it.key() + u'=' + it.value() + u'/' + twice.value(it.key()));
            Fail("stored texts differ");
        }
    }
    return 0;
}
