#pragma once
// Property storage: turns lines such as "cbCheck.Checked" (a component of a window, found
// by object name, and one of its published properties) into text values and back.
//
// Published properties are the Q_PROPERTYs that the program's own classes declare: those
// of the class chain below the first Qt class (a class named Q + capital letter), so that
// Qt's own "checked" never shadows a component's "Checked". Kinds and text forms:
//   int                 signed decimal; read by TextToInt, anything else gives 0
//   bool, Q_ENUM        the value's name ("False"/"True" for bool); read by name without
//                       regard to ASCII case; an unknown name leaves the property alone
//   QString             the text unchanged
//   qlonglong           signed decimal; anything else reads as 0
//   double              general form, 17 significant digits, "."; unreadable text leaves it alone
//   QChar               the one character; read as the first character
// Any other type (flags, lists, objects, ...) is neither written nor read.

#include <QList>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

enum TTypeKind { tkUnknown, tkInteger, tkEnumeration, tkFloat, tkLString, tkInt64, tkWChar };

struct TPropInfo {
    QString Name; // as declared
    TTypeKind Kind = tkUnknown;
    QMetaProperty Meta;
    // Enumerations: value names and values from the lowest ordinal to the highest.
    QStringList EnumNames;
    QList<int> EnumValues;
};

class TPropInfoList {
public:
    explicit TPropInfoList(const QObject* object);
    int Count() const { return static_cast<int>(items_.size()); }
    const TPropInfo& Items(int index) const { return items_[index]; }
    // By name without regard to ASCII case; null when the class has no such property.
    const TPropInfo* Find(const QString& name) const;

private:
    QList<TPropInfo> items_;
};

// One line of a stored-property list and the component it is bound to. The slot empties
// itself when the component is destroyed, and the line is then dropped at the next use.
struct TStoredLine {
    TStoredLine(const QString& text = QString(), QObject* object = nullptr)
        : Text(text), Object(object) {}
    TStoredLine(const char* text) : Text(QString::fromUtf8(text)) {}
    QString Text;
    QPointer<QObject> Object;
};
using TStoredPropList = QList<TStoredLine>;
QStringList StoredTexts(const TStoredPropList& list);

// "comp.prop" -> trimmed parts; false unless both are non-empty.
bool ParseStoredLine(const QString& line, QString* component, QString* property);
// Leading and trailing characters with codes up to 32 removed.
QString TrimControl(const QString& text);

inline const QString IdentSeparator = QStringLiteral("_");

class TPropsStorage {
public:
    TPropsStorage() = default;
    virtual ~TPropsStorage() = default;
    TPropsStorage(const TPropsStorage&) = delete;
    TPropsStorage& operator=(const TPropsStorage&) = delete;

    QObject* Target = nullptr;
    QObject* Owner = nullptr; // set only while a list is processed
    QString Prefix;
    QString Section;
    std::function<QString(const QString& Section, const QString& Ident, const QString& Default)>
        OnReadText;
    std::function<void(const QString& Section, const QString& Ident, const QString& Text)>
        OnWriteText;
    std::function<void(const QString& Section)> OnDropSection;

    // fromWindow: bind each line to the owner's component of that name (ASCII case
    // ignored), dropping lines it cannot bind; otherwise rename bound lines after their
    // component's current name and drop unbound ones. Invalid lines are dropped.
    static void ResolveStoredList(QObject* owner, TStoredPropList& list, bool fromWindow);
    void WriteComponentProps(QObject* owner, TStoredPropList& list);
    void ReadComponentProps(QObject* owner, TStoredPropList& list);
    // One property of Target. Write failures propagate; read failures are dropped.
    void WriteProperty(const TPropInfo& info);
    void ReadProperty(const TPropInfo& info);

protected:
    virtual QString ReadValue(const QString& section, const QString& ident, const QString& def);
    virtual void WriteValue(const QString& section, const QString& ident, const QString& text);
    virtual void DropSection(const QString& section);
    virtual QString IdentFor(const QString& name) const { return Prefix + name; }
    virtual std::unique_ptr<TPropsStorage> NewStorage() const;

private:
    void ProcessList(QObject* owner, TStoredPropList& list, bool writing);
};
