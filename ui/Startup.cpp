#include "ui/Startup.h"

#include "base/ErrorReport.h"
#include "ui/AppStyle.h"
#include "ui/Pictures.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QToolTip>
#include <QTranslator>

namespace {

// The program's own texts are Russian whatever the locale; the toolkit's (its file dialog,
// the text editors' context menus, standard buttons) are made so too.
void LoadToolkitTranslation() {
    static QPointer<QTranslator> installed;
    if (installed)
        return;
    auto* translator = new QTranslator(qApp);
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qWarning("The toolkit's Russian texts (qtbase_ru.qm, package qt6-translations-l10n) "
                 "are missing: its dialogs and menus stay in English.");
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
}

} // namespace

void SetUpApplication(const QString& executablePath) {
    SetApplicationTitle(TitleFromExecutable(executablePath));
    // The title names the task-bar entry. It is not made the display name: the toolkit
    // would append that to every window caption.
    QCoreApplication::setApplicationName(ApplicationTitle());
    QApplication::setWindowIcon(PictureIcon(QStringLiteral("vendrik")));
    InstallVendrikStyle();
    QToolTip::setFont(WindowFont());
    LoadToolkitTranslation();
}

void CreateWindows() {
    formMain = new TformMain;
    formSearsh = new TformSearsh(formMain);
    // The help text's editor lays out an empty page in the application's font while it
    // is built, before it takes the window's own. Built while the application's font is
    // the windows' one, it does not load a second typeface that nothing shows.
    const QFont applicationFont = QGuiApplication::font();
    QGuiApplication::setFont(WindowFont());
    formHelp = new TformHelp(formMain);
    QGuiApplication::setFont(applicationFont);
}

void DestroyWindows() {
    delete formHelp;
    formHelp = nullptr;
    delete formSearsh;
    formSearsh = nullptr;
    delete formMain;
    formMain = nullptr;
}
