#pragma once
// Stored settings of a window: TFormStorage (on a TFormPlacement base) chains itself into
// its window's show, close-query and destroy hooks, restores the named properties of the
// window's components from the per-user registry before the window's own show handler
// runs, and saves them when the window may close (and, failing that, when it is
// destroyed). Failures go to the general error report; the window carries on.
//
// Not built, as no window of this program uses them: window position and state (fpState,
// fpPosition, fpActiveControl are accepted and ignored), size limits (MinMaxInfo,
// PreventResize), stored named values, INI files (UseRegistry false loads and saves
// nothing) and registry roots other than the current user's (the platform refuses them).
// The window manager's maximized position is not adjusted after a restore: it stores
// nothing and the main window cannot be maximized.

#include "storage/RXProps.h"
#include "storage/Registry.h"
#include "window/Form.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <memory>

enum TPlacementOption { fpState = 0x1, fpPosition = 0x2, fpActiveControl = 0x4 };
using TPlacementOptions = QFlags<TPlacementOption>;
Q_DECLARE_OPERATORS_FOR_FLAGS(TPlacementOptions)

enum TPlacementRegRoot {
    prCurrentUser,
    prLocalMachine,
    prCurrentConfig,
    prClassesRoot,
    prUsers,
    prDynData
};

struct TWinMinMaxInfo {
    int MaxPosLeft = 0, MaxPosTop = 0, MaxSizeHeight = 0, MaxSizeWidth = 0;
    int MaxTrackHeight = 0, MaxTrackWidth = 0, MinTrackHeight = 0, MinTrackWidth = 0;
};

struct TStoredValue {
    QString Name;
    QString Value;
};
using TStoredValues = QList<TStoredValue>;

// How DefaultStoreKey names the application part of the key.
inline bool KeyUsesTitle = false;
inline QString KeyCompanyPrefix;

class TFormPlacement : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active MEMBER Active)
    Q_PROPERTY(QString IniFileName MEMBER IniFileName)
    Q_PROPERTY(QString IniSection MEMBER IniSection)
    Q_PROPERTY(bool UseRegistry MEMBER UseRegistry)
    Q_PROPERTY(int Version MEMBER Version)
    Q_PROPERTY(bool PreventResize MEMBER PreventResize)
public:
    explicit TFormPlacement(TForm* owner);
    ~TFormPlacement() override;

    bool Active = true;
    QString IniFileName; // the key path when not empty
    QString IniSection;  // the section when not empty
    bool UseRegistry = false;
    TPlacementRegRoot RegistryRoot = prCurrentUser;
    TPlacementOptions Options = TPlacementOptions(fpState) | fpPosition;
    int Version = 0;
    bool PreventResize = false;
    TWinMinMaxInfo MinMaxInfo;
    TNotifyEvent OnSavePlacement;
    TNotifyEvent OnRestorePlacement;

    bool SavedSinceRestore() const { return savedSinceRestore_; }
    bool RestoreDone() const { return restoreDone_; }
    bool SavingOnDestroy() const { return savingOnDestroy_; }

    // The window calls this at the end of its constructor, once its own hooks are set.
    virtual void Loaded();

    void HandleFormShow(QObject* sender);
    void HandleFormCloseQuery(QObject* sender, bool& canClose);
    void HandleFormDestroy(QObject* sender);

    void RestoreFromStore();
    void SaveToStore();
    void OpenStore(bool readOnly);
    void CloseStore();
    TRegIniFile* Store() const { return store_.get(); }

    // "Software\<executable name without folders and extension>".
    QString DefaultStoreKey() const;
    // The owning window's class name.
    QString DefaultStoreSection() const;
    // The section every operation uses, worked out again at each use.
    QString StoreSection() const;
    // Lets a test stand in another executable's name.
    void SetExecutablePath(const QString& path) { executablePath_ = path; }

    virtual QString StoreReadText(const QString& section, const QString& ident, const QString& def);
    virtual void StoreWriteText(const QString& section, const QString& ident, const QString& text);

protected:
    virtual void WritePlacement();
    virtual void ReadPlacement();
    TForm* Form() const { return owner_; }
    void SetRestoreDone() { restoreDone_ = true; }

private:
    void Unbind();

    TForm* owner_;
    bool bound_ = false;
    bool ownerGone_ = false;
    std::unique_ptr<TRegIniFile> store_;
    bool savedSinceRestore_ = false;
    bool restoreDone_ = false;
    bool savingOnDestroy_ = false;
    TNotifyEvent savedShow_;
    TCloseQueryEvent savedCloseQuery_;
    TNotifyEvent savedDestroy_;
    QString executablePath_;
};

class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(TForm* owner);

    TStoredPropList StoredProps; // "component.property" lines, bound at Loaded()
    TStoredValues StoredValues;  // not stored (see above)

    void Loaded() override;

protected:
    void WritePlacement() override;
    void ReadPlacement() override;
    virtual void WriteStoredProps();
    virtual void ReadStoredProps();
};
