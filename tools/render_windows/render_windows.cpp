// Renders the three windows to PNG files, in the states an operator sees, so their
// layout can be checked without a display:
//   QT_QPA_PLATFORM=offscreen render_windows <output folder>
// The progress window is pictured through real device runs against the simulated
// device; each of its pictures is listed with its mode and status line. The program's
// settings live in a throw-away folder, so the operator's own are not touched.
//   QT_QPA_PLATFORM=offscreen [QT_SCALE_FACTOR=2] render_windows --screenshots <folder>
// writes only the pictures the documents show (main.png, progress-write.png, help.png,
// "@2x" before the extension at ratio 2), each the same on every run on the same fonts.

#include "base/MessageBox.h"
#include "tools/render_windows/RunPictures.h"
#include "ui/Startup.h"
#include "ui/fHelp.h"
#include "ui/fMain.h"
#include "window/Application.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
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

// A program of 8 sectors, so a write run is short.
QByteArray DemoProgram() {
    QByteArray bytes(8 * 256, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

// "@2x" at ratio 2, nothing at 1: how the documents and icon themes name them.
QString RatioSuffix() {
    const qreal ratio = qApp->devicePixelRatio();
    return ratio == 1 ? QString() : QStringLiteral("@%1x").arg(ratio);
}

// The program file the screenshots show: its name and size are on the main window.
constexpr auto ShownProgramName = "meldor2_demo.bin";

int Screenshots(const QString& out, const QTemporaryDir& scratch) {
    const QString suffix = RatioSuffix() + QStringLiteral(".png");
    SetUpApplication(QStringLiteral("/usr/bin/Vendrik"));
    CreateWindows();
    formMain->show();
    formMain->cbCheck->setChecked(true);
    bool ok =
        LoadProgramThroughOpen(scratch.filePath(QLatin1String(ShownProgramName)), DemoProgram());
    if (!ok)
        std::fprintf(stderr, "cannot load the demo program\n");
    ok = ok && Save(formMain, out + "/main" + suffix);

    // A busy machine may fail a sector twice before the bar gets there: that write is
    // made again, on a fresh device, as an operator would.
    QImage progress;
    QString error;
    for (int attempt = 0; ok && progress.isNull() && attempt < 3; ++attempt)
        PictureWriteAtSector(4, &progress, &error);
    if (ok && progress.isNull()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        ok = false;
    }
    if (ok && !progress.save(out + "/progress-write" + suffix, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out + "/progress-write" + suffix));
        ok = false;
    } else if (ok) {
        std::printf("%s\n", qPrintable(out + "/progress-write" + suffix));
    }

    formHelp->show();
    ok = ok && Save(formHelp, out + "/help" + suffix);
    formHelp->hide();
    formMain->close();
    DestroyWindows();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    const bool screenshots = argc == 3 && qstrcmp(argv[1], "--screenshots") == 0;
    // A lone option is a mistyped command line, not a folder to fill.
    if (!screenshots && (argc != 2 || argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: render_windows [--screenshots] <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    QTemporaryDir scratch;
    if (!QDir().mkpath(out) || !scratch.isValid()) {
        std::fprintf(stderr, "cannot create %s or a temporary folder\n", argv[argc - 1]);
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
    // Nothing here waits for a person.
    SetMessageBoxHandler([](const QString&, const QString&, TMessageIcon) {});
    if (screenshots)
        return Screenshots(out, scratch);

    SetUpApplication(QStringLiteral("/usr/bin/Vendrik"));
    CreateWindows();
    bool ok = Save(formMain, out + "/main-design.png");
    formMain->show();
    ok = Save(formMain, out + "/main-empty.png") && ok;
    formMain->cbCheck->setChecked(true);
    if (!LoadProgramThroughOpen(scratch.filePath(QStringLiteral("meldor2_demo.bin")),
                                DemoProgram())) {
        std::fprintf(stderr, "cannot load the demo program\n");
        ok = false;
    }
    ok = Save(formMain, out + "/main-loaded.png") && ok;

    QList<TRunPicture> pictures;
    QString error;
    if (!PictureDeviceRuns(pictures, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        ok = false;
    }
    int step = 0;
    QString run;
    for (const TRunPicture& p : pictures) {
        step = p.run == run ? step + 1 : 1;
        run = p.run;
        const QString path = QStringLiteral("%1/progress-%2-%3.png").arg(out, p.run).arg(step);
        if (p.image.save(path, "PNG")) {
            std::printf("%s\t%s\t%s\n", qPrintable(path), qPrintable(p.mode), qPrintable(p.status));
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }

    formHelp->show();
    ok = Save(formHelp, out + "/help.png") && ok;
    QScrollBar* bar = formHelp->Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
    ok = Save(formHelp, out + "/help-end.png") && ok;
    formHelp->hide();
    formMain->close();
    DestroyWindows();
    return ok ? 0 : 1;
}
