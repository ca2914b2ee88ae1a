#include "storage/Placemnt.h"

#include "base/ErrorReport.h"
#include "platform/Paths.h"

TFormPlacement::TFormPlacement(TForm* owner) : QObject(owner), owner_(owner) {
    // Emitted before the window's children go, when its hooks no longer exist.
    if (owner_)
        connect(owner_, &QObject::destroyed, this, [this] { ownerGone_ = true; });
}

TFormPlacement::~TFormPlacement() {
    CloseStore();
    if (!ownerGone_)
        Unbind();
}

void TFormPlacement::Loaded() {
    if (bound_ || !owner_)
        return;
    bound_ = true;
    savedShow_ = owner_->OnShow;
    savedCloseQuery_ = owner_->OnCloseQuery;
    savedDestroy_ = owner_->OnDestroy;
    owner_->OnShow = [this](QObject* sender) { HandleFormShow(sender); };
    owner_->OnCloseQuery = [this](QObject* sender, bool& canClose) {
        HandleFormCloseQuery(sender, canClose);
    };
    owner_->OnDestroy = [this](QObject* sender) { HandleFormDestroy(sender); };
}

void TFormPlacement::Unbind() {
    if (!bound_)
        return;
    bound_ = false;
    owner_->OnShow = savedShow_;
    owner_->OnCloseQuery = savedCloseQuery_;
    owner_->OnDestroy = savedDestroy_;
}

void TFormPlacement::HandleFormShow(QObject* sender) {
    if (Active) {
        try {
            RestoreFromStore();
        } catch (...) {
            ReportCurrentException();
        }
    }
    if (savedShow_)
        savedShow_(sender);
}

void TFormPlacement::HandleFormCloseQuery(QObject* sender, bool& canClose) {
    if (savedCloseQuery_)
        savedCloseQuery_(sender, canClose);
    if (canClose && Active && owner_->testAttribute(Qt::WA_WState_Created)) {
        try {
            SaveToStore();
        } catch (...) {
            ReportCurrentException();
        }
    }
}

void TFormPlacement::HandleFormDestroy(QObject* sender) {
    if (Active && !savedSinceRestore_) {
        savingOnDestroy_ = true;
        try {
            SaveToStore();
        } catch (...) {
            ReportCurrentException();
        }
        savingOnDestroy_ = false;
    }
    if (savedDestroy_)
        savedDestroy_(sender);
}

void TFormPlacement::RestoreFromStore() {
    savedSinceRestore_ = false;
    OpenStore(true);
    try {
        const QString section = StoreSection();
        const int stored = store_ ? store_->ReadInt(section, QStringLiteral("FormVersion"), 0) : 0;
        if (stored >= Version) {
            ReadPlacement();
            restoreDone_ = true;
            if (OnRestorePlacement)
                OnRestorePlacement(this);
        }
        restoreDone_ = true;
    } catch (...) {
        CloseStore();
        throw;
    }
    CloseStore();
}

void TFormPlacement::SaveToStore() {
    if (!restoreDone_ && Active)
        return;
    OpenStore(false);
    try {
        if (store_)
            store_->WriteInt(StoreSection(), QStringLiteral("FormVersion"), Version);
        WritePlacement();
        if (OnSavePlacement)
            OnSavePlacement(this);
        savedSinceRestore_ = true;
    } catch (...) {
        CloseStore();
        throw;
    }
    CloseStore();
}

void TFormPlacement::OpenStore(bool readOnly) {
    if (store_ || !UseRegistry)
        return;
    const QString path = IniFileName.isEmpty() ? DefaultStoreKey() : IniFileName;
    store_ = std::make_unique<TRegIniFile>(path);
    if (readOnly)
        store_->SetAccess(KEY_READ);
    if (RegistryRoot != prCurrentUser) {
        static const RegHandle roots[] = {HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
                                          HKEY_CURRENT_CONFIG, HKEY_CLASSES_ROOT,
                                          HKEY_USERS,          HKEY_DYN_DATA};
        store_->SetRootKey(roots[RegistryRoot]);
        store_->OpenKeyPath(path, !readOnly);
    }
}

void TFormPlacement::CloseStore() {
    store_.reset();
}

QString TFormPlacement::DefaultStoreKey() const {
    QString app;
    if (KeyUsesTitle && !ApplicationTitle().isEmpty()) {
        app = ApplicationTitle();
    } else {
        app = executablePath_.isEmpty() ? ExecutablePath() : executablePath_;
        const qsizetype slash = std::max(app.lastIndexOf(u'/'), app.lastIndexOf(u'\\'));
        app = app.mid(slash + 1);
        const qsizetype dot = app.lastIndexOf(u'.');
        if (dot >= 0 && app.indexOf(u':', dot) < 0)
            app.truncate(dot);
    }
    if (!KeyCompanyPrefix.isEmpty())
        app = KeyCompanyPrefix + u'\\' + app;
    return QStringLiteral("Software\\") + app;
}

QString TFormPlacement::DefaultStoreSection() const {
    return owner_ ? QString::fromLatin1(owner_->metaObject()->className()) : QString();
}

QString TFormPlacement::StoreSection() const {
    return IniSection.isEmpty() ? DefaultStoreSection() : IniSection;
}

QString TFormPlacement::StoreReadText(const QString& section, const QString& ident,
                                      const QString& def) {
    if (store_)
        return store_->ReadSectionText(section, ident, def);
    OpenStore(true);
    if (!store_)
        return def;
    QString text;
    try {
        text = store_->ReadSectionText(section, ident, def);
    } catch (...) {
        CloseStore();
        throw;
    }
    CloseStore();
    return text;
}

void TFormPlacement::StoreWriteText(const QString& section, const QString& ident,
                                    const QString& text) {
    if (store_) {
        store_->WriteSectionText(section, ident, text);
        return;
    }
    OpenStore(false);
    if (!store_)
        return;
    try {
        store_->WriteSectionText(section, ident, text);
    } catch (...) {
        CloseStore();
        throw;
    }
    CloseStore();
}

// Window position and state are not kept (see the header); nothing else to do here.
void TFormPlacement::WritePlacement() {}
void TFormPlacement::ReadPlacement() {}

TFormStorage::TFormStorage(TForm* owner) : TFormPlacement(owner) {}

void TFormStorage::Loaded() {
    TFormPlacement::Loaded();
    TPropsStorage::ResolveStoredList(Form(), StoredProps, true);
}

void TFormStorage::WritePlacement() {
    TFormPlacement::WritePlacement();
    WriteStoredProps();
}

void TFormStorage::ReadPlacement() {
    TFormPlacement::ReadPlacement();
    SetRestoreDone();
    ReadStoredProps();
}

void TFormStorage::WriteStoredProps() {
    TPropsStorage storage;
    storage.Section = StoreSection();
    storage.OnWriteText = [this](const QString& section, const QString& ident,
                                 const QString& text) { StoreWriteText(section, ident, text); };
    storage.OnDropSection = [this](const QString& section) {
        if (Store())
            Store()->RemoveSection(section);
    };
    storage.WriteComponentProps(Form(), StoredProps);
}

void TFormStorage::ReadStoredProps() {
    try {
        TPropsStorage storage;
        storage.Section = StoreSection();
        storage.OnReadText = [this](const QString& section, const QString& ident,
                                    const QString& def) {
            return StoreReadText(section, ident, def);
        };
        storage.ReadComponentProps(Form(), StoredProps);
    } catch (...) {
        // A property that cannot be restored keeps the value the window gave it.
    }
}
