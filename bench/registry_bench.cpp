// What a hostile settings file costs: a start-up load (the application key opened, the
// stored values read) and a save of the main window's four values, each in a child
// process of its own, against generated user.reg files. Prints the wall time, the peak
// resident size of the child and the size of user.reg after each step.
//
//   registry_bench [--file PATH]...   (default: the generated files below)

#include "storage/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString AppKey = QStringLiteral("Software\\Vendrik");
const QString Section = QStringLiteral("TformMain");

// 7607 key lines, each 250 levels deep and apart from the first level: 4 MB.
QByteArray DeepKeys() {
    QByteArray text = "REGEDIT4\n\n";
    for (int i = 0; i < 7607; ++i) {
        text += "[HKEY_CURRENT_USER\\k" + QByteArray::number(i);
        for (int level = 1; level < 250; ++level)
            text += "\\a";
        text += "]\n\n";
    }
    return text;
}

// Short sibling keys filling the file's 4 MB.
QByteArray ManyKeys() {
    QByteArray text = "REGEDIT4\n\n";
    for (int i = 0; text.size() < 4 * 1000 * 1000; ++i)
        text += "[HKEY_CURRENT_USER\\Software\\Vendrik\\k" + QByteArray::number(i) + "]\n\n";
    return text;
}

// Values of the program's own key filling the file's 4 MB.
QByteArray ManyValues() {
    QByteArray text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n";
    for (int i = 0; text.size() < 4 * 1000 * 1000; ++i)
        text += "\"v" + QByteArray::number(i) + "\"=\"1\"\n";
    return text + "\n";
}

struct TStep {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// Runs `body` in a forked child; its peak resident size comes from wait4.
TStep InChild(const std::function<void()>& body) {
    QElapsedTimer clock;
    clock.start();
    std::fflush(stdout); // else the child prints it again
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            body();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    TStep step;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        step.seconds = clock.nsecsElapsed() / 1e9;
        step.peakKb = usage.ru_maxrss;
        step.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return step;
}

void Load() {
    TRegIniFile store(AppKey);
    store.SetAccess(KEY_READ);
    store.ReadInt(Section, QStringLiteral("FormVersion"), 0);
    store.ReadSectionText(Section, QStringLiteral("cbCheck_Checked"), QString());
    store.ReadSectionText(Section, QStringLiteral("cbPort_Tag"), QString());
    store.ReadSectionText(Section, QStringLiteral("OpenDialog1_FileName"), QString());
    std::printf("  (load parsed the file %llu times)\n", UserRegistryReads());
    std::fflush(stdout);
}

void Save() {
    TRegIniFile store(AppKey);
    store.WriteInt(Section, QStringLiteral("FormVersion"), 0);
    store.WriteSectionText(Section, QStringLiteral("cbCheck_Checked"), QStringLiteral("True"));
    store.WriteSectionText(Section, QStringLiteral("cbPort_Tag"), QStringLiteral("2"));
    store.WriteSectionText(Section, QStringLiteral("OpenDialog1_FileName"),
                           QStringLiteral("/home/op/firmware.bin"));
    std::printf("  (save parsed the file %llu times)\n", UserRegistryReads());
    std::fflush(stdout);
}

void Report(const char* what, const TStep& step, const QString& file) {
    std::printf("  %-5s %8.3f s  peak %8.1f MB  exit %d  user.reg %10lld bytes\n", what,
                step.seconds, step.peakKb / 1024.0, step.status,
                static_cast<long long>(QFileInfo(file).size()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<QPair<QString, QByteArray>> files;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] != QStringLiteral("--file"))
            break;
        QFile in(args[i + 1]);
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(args[i + 1]));
            return 2;
        }
        files.append({args[i + 1], in.readAll()});
    }
    if (files.isEmpty())
        files = {{QStringLiteral("deep keys"), DeepKeys()},
                 {QStringLiteral("many keys"), ManyKeys()},
                 {QStringLiteral("many values"), ManyValues()}};

    for (const auto& [name, text] : files) {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        const QString dir = home.path() + QStringLiteral("/vendrik");
        const QString file = dir + QStringLiteral("/user.reg");
        QDir().mkpath(dir);
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            return 2;
        out.close();
        std::printf("%s: %lld bytes\n", qPrintable(name), static_cast<long long>(text.size()));
        Report("load", InChild(Load), file);
        Report("save", InChild(Save), file);
    }
    return 0;
}
