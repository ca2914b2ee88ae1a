#include "storage/RXProps.h"

#include "platform/RegistryFile.h"
#include "storage/IntegerText.h"

#include <QMetaEnum>
#include <algorithm>
#include <map>

namespace {

bool IsQtClass(const QMetaObject* meta) {
    const char* name = meta->className();
    return name[0] == 'Q' && name[1] >= 'A' && name[1] <= 'Z';
}

TTypeKind KindOf(const QMetaProperty& p) {
    if (p.isEnumType())
        return p.isFlagType() ? tkUnknown : tkEnumeration;
    switch (p.metaType().id()) {
    case QMetaType::Int:
        return tkInteger;
    case QMetaType::Bool:
        return tkEnumeration;
    case QMetaType::QString:
        return tkLString;
    case QMetaType::LongLong:
        return tkInt64;
    case QMetaType::Double:
        return tkFloat;
    case QMetaType::QChar:
        return tkWChar;
    default:
        return tkUnknown;
    }
}

void FillEnumeration(TPropInfo& info) {
    if (info.Meta.metaType().id() == QMetaType::Bool) {
        info.EnumNames = {QStringLiteral("False"), QStringLiteral("True")};
        info.EnumValues = {0, 1};
        return;
    }
    const QMetaEnum e = info.Meta.enumerator();
    QList<std::pair<int, QString>> items;
    for (int i = 0; i < e.keyCount(); ++i)
        items.append({e.value(i), QString::fromLatin1(e.key(i))});
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [value, name] : items) {
        info.EnumValues.append(value);
        info.EnumNames.append(name);
    }
}

// False for a kind without a text form.
bool ValueText(const TPropInfo& info, const QObject* target, QString* text) {
    const QVariant v = info.Meta.read(target);
    switch (info.Kind) {
    case tkInteger:
        *text = QString::number(v.toInt());
        return true;
    case tkInt64:
        *text = QString::number(v.toLongLong());
        return true;
    case tkEnumeration: {
        const int index = info.EnumValues.indexOf(v.toInt());
        *text = index >= 0 ? info.EnumNames[index] : QString();
        return true;
    }
    case tkLString:
        *text = v.toString();
        return true;
    case tkFloat:
        *text = QString::number(v.toDouble(), 'g', 17);
        return true;
    case tkWChar:
        *text = QString(v.value<QChar>());
        return true;
    case tkUnknown:
        break;
    }
    return false;
}

void ApplyText(const TPropInfo& info, QObject* target, const QString& text) {
    switch (info.Kind) {
    case tkInteger:
        info.Meta.write(target, TextToIntDef(text, 0));
        break;
    case tkInt64: {
        bool ok = false;
        const qlonglong v = text.toLongLong(&ok);
        info.Meta.write(target, ok ? v : 0LL);
        break;
    }
    case tkEnumeration:
        for (qsizetype i = 0; i < info.EnumNames.size(); ++i) {
            if (RegFoldName(info.EnumNames[i]) == RegFoldName(text)) {
                if (info.Meta.metaType().id() == QMetaType::Bool)
                    info.Meta.write(target, info.EnumValues[i] != 0);
                else
                    info.Meta.write(target, info.EnumValues[i]);
                break;
            }
        }
        break;
    case tkLString:
        info.Meta.write(target, text);
        break;
    case tkFloat: {
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (ok)
            info.Meta.write(target, v);
        break;
    }
    case tkWChar:
        if (!text.isEmpty())
            info.Meta.write(target, QVariant::fromValue(text.front()));
        break;
    case tkUnknown:
        break;
    }
}

} // namespace

TPropInfoList::TPropInfoList(const QObject* object) {
    const QMetaObject* meta = object->metaObject();
    const QMetaObject* qtBase = meta;
    while (qtBase && !IsQtClass(qtBase))
        qtBase = qtBase->superClass();
    const int first = qtBase ? qtBase->propertyCount() : 0;
    for (int i = first; i < meta->propertyCount(); ++i) {
        TPropInfo info;
        info.Meta = meta->property(i);
        info.Name = QString::fromLatin1(info.Meta.name());
        info.Kind = KindOf(info.Meta);
        if (info.Kind == tkUnknown)
            continue;
        if (info.Kind == tkEnumeration)
            FillEnumeration(info);
        items_.append(info);
    }
}

const TPropInfo* TPropInfoList::Find(const QString& name) const {
    const QString folded = RegFoldName(name);
    for (const TPropInfo& info : items_)
        if (RegFoldName(info.Name) == folded)
            return &info;
    return nullptr;
}

QStringList StoredTexts(const TStoredPropList& list) {
    QStringList texts;
    for (const TStoredLine& line : list)
        texts.append(line.Text);
    return texts;
}

QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

bool ParseStoredLine(const QString& line, QString* component, QString* property) {
    const qsizetype dot = line.indexOf(u'.');
    if (dot < 0)
        return false;
    *component = TrimControl(line.left(dot));
    *property = TrimControl(line.mid(dot + 1));
    return !component->isEmpty() && !property->isEmpty();
}

void TPropsStorage::ResolveStoredList(QObject* owner, TStoredPropList& list, bool fromWindow) {
    const QList<QObject*> owned =
        fromWindow && owner ? owner->findChildren<QObject*>() : QList<QObject*>();
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        QString component;
        QString property;
        if (!ParseStoredLine(list[i].Text, &component, &property)) {
            list.removeAt(i);
            continue;
        }
        if (fromWindow) {
            const QString folded = RegFoldName(component);
            const auto found = std::find_if(owned.begin(), owned.end(), [&](QObject* o) {
                return RegFoldName(o->objectName()) == folded;
            });
            if (found == owned.end())
                list.removeAt(i);
            else
                list[i].Object = *found;
        } else if (list[i].Object) {
            list[i].Text = list[i].Object->objectName() + u'.' + property;
        } else {
            list.removeAt(i);
        }
    }
}

void TPropsStorage::WriteComponentProps(QObject* owner, TStoredPropList& list) {
    ProcessList(owner, list, true);
}

void TPropsStorage::ReadComponentProps(QObject* owner, TStoredPropList& list) {
    ProcessList(owner, list, false);
}

void TPropsStorage::ProcessList(QObject* owner, TStoredPropList& list, bool writing) {
    ResolveStoredList(owner, list, false);
    std::map<QObject*, TPropInfoList> index;
    for (const TStoredLine& line : list)
        if (line.Object && !index.count(line.Object))
            index.emplace(line.Object.data(), TPropInfoList(line.Object));

    struct Reset {
        TPropsStorage* self;
        ~Reset() {
            self->Owner = nullptr;
            self->Target = nullptr;
        }
    } reset{this};
    Owner = owner;
    // A property setter may run arbitrary code, so the list is walked by copy.
    const TStoredPropList lines = list;
    for (const TStoredLine& line : lines) {
        QString component;
        QString property;
        if (!ParseStoredLine(line.Text, &component, &property) || !line.Object)
            continue;
        Target = line.Object;
        const auto it = index.find(Target);
        if (it == index.end())
            continue;
        Prefix = Target->objectName() + IdentSeparator;
        if (const TPropInfo* info = it->second.Find(property)) {
            if (writing)
                WriteProperty(*info);
            else
                ReadProperty(*info);
        }
    }
}

void TPropsStorage::WriteProperty(const TPropInfo& info) {
    QString text;
    if (!ValueText(info, Target, &text))
        return;
    if (text.isEmpty() && info.Kind != tkLString && info.Kind != tkWChar)
        return;
    WriteValue(Section, IdentFor(info.Name), TrimControl(text));
}

void TPropsStorage::ReadProperty(const TPropInfo& info) {
    try {
        QString def;
        if (!ValueText(info, Target, &def))
            return;
        QString text;
        if (!def.isEmpty() || info.Kind == tkLString || info.Kind == tkWChar)
            text = TrimControl(ReadValue(Section, IdentFor(info.Name), def));
        ApplyText(info, Target, text);
    } catch (...) {
        // One unreadable value must not stop the others; the property keeps its value.
    }
}

QString TPropsStorage::ReadValue(const QString& section, const QString& ident, const QString& def) {
    return OnReadText ? OnReadText(section, ident, def) : QString();
}

void TPropsStorage::WriteValue(const QString& section, const QString& ident, const QString& text) {
    if (OnWriteText)
        OnWriteText(section, ident, text);
}

void TPropsStorage::DropSection(const QString& section) {
    if (OnDropSection)
        OnDropSection(section);
}

std::unique_ptr<TPropsStorage> TPropsStorage::NewStorage() const {
    return std::make_unique<TPropsStorage>();
}
