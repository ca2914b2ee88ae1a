// Renders the three windows to PNG files, in the states an operator sees, so their
// layout can be checked without a display:
//   QT_QPA_PLATFORM=offscreen render_windows <output folder>

#include "app/Application.h"
#include "base/MessageBox.h"
#include "ui/AppStyle.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "ui/fSearsh.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <cstdio>

namespace {

bool Save(QWidget* window, const QString& path) {
    QApplication::processEvents();
    if (window->grab().save(path, "PNG")) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_windows <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    // Nothing here waits for a person.
    SetMessageBoxHandler([](const QString&, const QString&, MsgIcon) {});
    InstallVendrikStyle();

    TformMain main;
    TformSearsh progress(&main);
    TformHelp help(&main);
    bool ok = Save(&main, out + "/main-design.png");

    main.show();
    ok = Save(&main, out + "/main-empty.png") && ok;
    main.SetProgramCaptions("meldor2_v1.bin", "131072", "512");
    main.cbCheck->setChecked(true);
    ok = Save(&main, out + "/main-loaded.png") && ok;

    const QStringList modes{"Режим: Чтение данных", "Режим: Запись данных"};
    const QStringList states{"Поиск прибора...", "Идет считывание...", "Идет запись...",
                             "Данные считаны",   "Ошибка считывания",  "Данные записаны",
                             "Ошибка записи"};
    progress.CentreOver(&main);
    progress.show();
    for (int i = 0; i < states.size(); ++i) {
        progress.stRezim->setText(modes[i % 2]);
        progress.stInfo->setText(states[i]);
        progress.Animate1->SetCommonAVI(i == 0 ? aviFindComputer : i < 3 ? aviFindFile : aviNone);
        progress.ProgressBar1->SetMax(i == 2 ? 100 : 512);
        progress.ProgressBar1->SetPosition(i * 20);
        ok = Save(&progress, QStringLiteral("%1/progress-%2.png").arg(out).arg(i)) && ok;
    }
    progress.hide();

    help.show();
    ok = Save(&help, out + "/help.png") && ok;
    help.Memo1->verticalScrollBar()->setValue(help.Memo1->verticalScrollBar()->maximum());
    ok = Save(&help, out + "/help-end.png") && ok;
    help.hide();
    return ok ? 0 : 1;
}
