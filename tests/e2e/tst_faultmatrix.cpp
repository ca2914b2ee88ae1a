// The fault matrix: each fault an operator can meet, driven through the real windows,
// the real serial port and the simulated device, or through copies of the program in
// child processes. Every row checks that nothing crashed or hung, that the operator was
// told, that an earlier file survived and that the port was let go; the rows are printed
// at the end as the Markdown table kept in docs/developer.md.

#include "base/ErrorReport.h"
#include "comm/VaComm.h"
#include "platform/RegistryFile.h"
#include "platform/UserRegistry.h"
#include "programmer/ProgramFiles.h"
#include "storage/Placemnt.h"
#include "tests/e2e/FaultProbes.h"
#include "tests/e2e/MainWindowRig.h"
#include "window/Application.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;
using namespace faults;

namespace {

// ---------------------------------------------------------------- the table

struct Row {
    QString fault;
    QString sees;
    QString after;
    QStringList failures;
    qint64 ms = 0;
    QElapsedTimer clock;

    explicit Row(const QString& name) : fault(name) { clock.start(); }
    void expect(bool ok, const QString& what) {
        if (!ok)
            failures << what;
    }
};

QList<Row>& Table() {
    static QList<Row> rows;
    return rows;
}

QString Cell(QString text) {
    return text.replace(u'|', QStringLiteral("\\|")).replace(u'\n', u' ');
}

void PrintTable() {
    std::printf("\n| fault | what the operator sees | afterwards: device, files, port | time | "
                "result |\n|---|---|---|---|---|\n");
    int failed = 0;
    for (const Row& r : Table()) {
        failed += r.failures.isEmpty() ? 0 : 1;
        std::printf("| %s | %s | %s | %.1f s | %s |\n", qPrintable(Cell(r.fault)),
                    qPrintable(Cell(r.sees)), qPrintable(Cell(r.after)), double(r.ms) / 1000.0,
                    r.failures.isEmpty()
                        ? "pass"
                        : qPrintable(Cell(QStringLiteral("**FAIL**: ") + r.failures.join("; "))));
    }
    std::printf("\n%lld rows, %d failed\n", qlonglong(Table().size()), failed);
    std::fflush(stdout);
}

#define REPORT(row)                                                                                \
    do {                                                                                           \
        (row).ms = (row).clock.elapsed();                                                          \
        Table().append(row);                                                                       \
        QVERIFY2((row).failures.isEmpty(), qPrintable((row).failures.join(QStringLiteral("; ")))); \
    } while (false)

QString Q(const QString& text) {
    return QStringLiteral("\"%1\"").arg(text);
}

QString BoxesText(const QStringList& boxes) {
    if (boxes.isEmpty())
        return QStringLiteral("no message box");
    QStringList quoted;
    for (const QString& b : boxes)
        quoted << Q(b);
    return QStringLiteral("box ") + quoted.join(QStringLiteral(", then "));
}

QStringList Texts(const QList<RecordedBox>& boxes) {
    QStringList texts;
    for (const RecordedBox& b : boxes)
        texts << b.text;
    return texts;
}

// ---------------------------------------------------------------- files

// Whatever a folder holds besides the names given.
QStringList Others(const QString& folder, const QStringList& expected) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    for (const QString& e : expected)
        names.removeAll(e);
    return names;
}

// A device image that differs from any other `seed`.
QByteArray Image(int seed) {
    QByteArray b(MaxFileSize, '\0');
    for (int i = 0; i < b.size(); ++i)
        b[i] = char((i * (2 * seed + 1) + seed + i / 256) & 0xFF);
    return b;
}

void SetDeviceImage(const QByteArray& bytes) {
    std::copy(bytes.begin(), bytes.end(), DeviceImage.begin());
}

// ---------------------------------------------------------------- settings

const QByteArray StoreHead = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Vendrik]\n\n";

struct Settings {
    QString check; // "True" / "False"
    QString port;  // cbPort.Tag
    QString file;
    bool operator==(const Settings&) const = default;
};

QByteArray StoreText(const Settings& s) {
    return StoreHead +
           "[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]\n\"FormVersion\"=\"0\"\n"
           "\"cbCheck_Checked\"=\"" +
           s.check.toUtf8() + "\"\n\"cbPort_Tag\"=\"" + s.port.toUtf8() +
           "\"\n\"OpenDialog1_FileName\"=\"" + s.file.toUtf8() + "\"\n\n";
}

// The three stored settings as the file holds them; `clean` tells whether the file was
// understood completely.
Settings StoredSettings(const QByteArray& text, bool* clean) {
    const TRegKey root = ParseRegistryText(text, clean);
    Settings s;
    const TRegKey* key = root.Find({"Software", "Vendrik", "TformMain"});
    auto text0 = [&](const char* name) {
        const TRegValue* v = key ? key->Value(QString::fromLatin1(name)) : nullptr;
        if (!v)
            return QStringLiteral("<missing>");
        QByteArray d = v->data;
        if (d.endsWith('\0'))
            d.chop(1);
        return QString::fromUtf8(d);
    };
    s.check = text0("cbCheck_Checked");
    s.port = text0("cbPort_Tag");
    s.file = text0("OpenDialog1_FileName");
    return s;
}

// A start of the program as the real one starts: the main window named after the real
// executable, shown, its settings restored.
TProgramWindows StartMainWindow() {
    ProgramLoaded = false;
    return StartProgram();
}

void ApplySettings(TformMain& w, const Settings& s) {
    w.cbCheck->setChecked(s.check == u"True");
    w.cbPort->SetTag(s.port.toInt());
    w.OpenDialog1->SetFileName(s.file);
}

const Settings SetA{QStringLiteral("True"), QStringLiteral("2"), QStringLiteral("/programs/a.bin")};
const Settings SetB{QStringLiteral("False"), QStringLiteral("5"),
                    QStringLiteral("/programs/b.bin")};

QStringList StoreLeftovers(const QString& vendrikDir) {
    return Others(vendrikDir, {"user.reg", "user.reg.lock", "dosdevices"});
}

// ---------------------------------------------------------------- device runs

struct RunResult {
    bool progressShown = false;
    QString status;
    QStringList boxes;
    bool heldWhileBox = false; // the program's descriptor on the line outlived a box's second
    bool released = false;     // no descriptor of the program on the line after the run
    bool timedOut = false;
    QList<int> simulators; // the simulator's own descriptors on the line
};

// The program's own descriptors on the simulated line: all of them but the simulator's.
QList<int> ProgramDescriptors(const QString& line, const QList<int>& simulators) {
    QList<int> mine = DescriptorsOn(line);
    for (int fd : simulators)
        mine.removeAll(fd);
    return mine;
}

RunResult RunDevice(MainWindowRig& rig, void (TformMain::*click)(),
                    std::function<bool()> closeEarly = {}) {
    const QString line = rig.device.SlavePath();
    const QList<int> simulators = DescriptorsOn(line);
    auto portFree = [&] { return ProgramDescriptors(line, simulators).isEmpty(); };
    RunResult r;
    r.simulators = simulators;
    rig.boxes.onBox = [&](const RecordedBox&) {
        // A real box runs the event loop while it is up; a second of that must be
        // enough for the port to be let go.
        if (!MainWindowRig::spinUntil(portFree, 1000))
            r.heldWhileBox = true;
    };
    rig.run(click, std::move(closeEarly), 10000);
    rig.boxes.onBox = nullptr;
    r.timedOut = rig.timedOut;
    r.progressShown = rig.shownAt != QPoint(-1, -1);
    r.status = r.progressShown ? formSearsh->stInfo->text() : QString();
    r.boxes = Texts(rig.boxes.boxes);
    r.released = MainWindowRig::spinUntil(portFree, 2000);
    return r;
}

// The operator closes the main window: the program ends. True when the port is free.
bool CloseMainWindowFreesPort(MainWindowRig& rig, const RunResult& run) {
    formMain->close();
    return MainWindowRig::spinUntil(
        [&] { return ProgramDescriptors(rig.device.SlavePath(), run.simulators).isEmpty(); }, 2000);
}

QString Sees(const RunResult& r) {
    QStringList parts;
    if (r.progressShown)
        parts << QStringLiteral("status ") + Q(r.status);
    else
        parts << QStringLiteral("no progress window");
    parts << BoxesText(r.boxes);
    return parts.join(QStringLiteral("; "));
}

// Which sectors of the `sectors`-sector program the device now holds.
QString DeviceHolds(const QByteArray& memory, const QByteArray& program, int sectors) {
    QStringList parts;
    int runStart = -1;
    bool runWritten = false;
    auto flush = [&](int end) {
        if (runStart < 0)
            return;
        const QString range = end - 1 == runStart
                                  ? QString::number(runStart)
                                  : QStringLiteral("%1–%2").arg(runStart).arg(end - 1);
        const bool one = end - 1 == runStart;
        parts << (runWritten ? (one ? QStringLiteral("sector %1 written")
                                    : QStringLiteral("sectors %1 written"))
                             : QStringLiteral("%1 erased"))
                     .arg(range);
    };
    for (int s = 0; s < sectors; ++s) {
        const bool written = memory.mid(s * 256, 256) == program.mid(s * 256, 256);
        if (runStart < 0 || written != runWritten) {
            flush(s);
            runStart = s;
            runWritten = written;
        }
    }
    flush(sectors);
    return QStringLiteral("device: ") + parts.join(QStringLiteral(", ")) +
           QStringLiteral(" (of %1)").arg(sectors);
}

QString PortText(const RunResult& r) {
    if (!r.released)
        return QStringLiteral("port still open");
    return r.heldWhileBox ? QStringLiteral("port released only after the box was dismissed")
                          : QStringLiteral("port released");
}

void ExpectCommon(Row& row, const RunResult& r) {
    row.expect(!r.timedOut, QStringLiteral("hung: the watchdog closed the windows"));
    row.expect(r.released, QStringLiteral("port not released"));
    row.expect(!r.heldWhileBox, QStringLiteral("port held while the error box was up"));
}

// A write of `sectors` sectors; `frames` is the sequence of sectors the device must
// have taken, `status` the status left, `ioBox` whether the link's error is reported.
void WriteRow(const QStringList& faults, int sectors, const QList<int>& frames,
              const QString& status, int writtenSectors, bool ioBox, Row& row) {
    MainWindowRig rig(DeviceConfig("!", faults));
    row.expect(rig.started, QStringLiteral("simulator did not start"));
    const QByteArray program = ProgramBytes(sectors * 256);
    rig.loadProgram(program);
    const RunResult r = RunDevice(rig, &TformMain::BtnWriteClick);
    row.sees = Sees(r);
    const QByteArray memory = rig.device.Memory();
    row.after = DeviceHolds(memory, program, sectors) + QStringLiteral("; ") + PortText(r);
    ExpectCommon(row, r);
    row.expect(r.status == status,
               QStringLiteral("status %1, expected %2").arg(Q(r.status), Q(status)));
    row.expect(rig.sectorsWritten() == frames, QStringLiteral("unexpected frames"));
    for (int s = 0; s < sectors; ++s) {
        const QByteArray got = memory.mid(s * 256, 256);
        const bool ok = s < writtenSectors ? got == program.mid(s * 256, 256)
                                           : got == QByteArray(256, char(0xFF));
        row.expect(ok, QStringLiteral("sector %1 of the device is wrong").arg(s));
    }
    if (ioBox)
        row.expect(r.boxes.size() == 1 && r.boxes[0].contains(QStringLiteral("Input/output error")),
                   QStringLiteral("the link's error was not reported"));
    else
        row.expect(r.boxes.isEmpty(), QStringLiteral("unexpected message box"));
}

// A read that ends early at sector 1 or 2 through `faults`.
void ReadFailRow(const QStringList& faults, int position, bool ioBox, Row& row) {
    MainWindowRig rig(DeviceConfig("!", faults));
    row.expect(rig.started, QStringLiteral("simulator did not start"));
    const QByteArray memory = ProgramBytes(sim::MemoryBytes);
    rig.device.SetMemory(memory);
    formMain->BtnSaveAs->setEnabled(true); // as an earlier good read leaves it
    const RunResult r = RunDevice(rig, &TformMain::BtnReadClick);
    row.sees = Sees(r) + QStringLiteral("; Save As disabled: %1")
                             .arg(formMain->BtnSaveAs->isEnabled() ? "no" : "yes");
    row.after = QStringLiteral("device unchanged: %1; image not valid: %2; %3")
                    .arg(rig.device.Memory() == memory ? "yes" : "no")
                    .arg(DeviceImageValid ? "no" : "yes")
                    .arg(PortText(r));
    ExpectCommon(row, r);
    row.expect(r.status == ReadFailed, QStringLiteral("status %1").arg(Q(r.status)));
    row.expect(!DeviceImageValid && !formMain->BtnSaveAs->isEnabled(),
               QStringLiteral("a failed read can be saved"));
    row.expect(formSearsh->ProgressBar1->Position() == position,
               QStringLiteral("ended at sector %1").arg(formSearsh->ProgressBar1->Position()));
    if (ioBox)
        row.expect(r.boxes.size() == 1 && r.boxes[0].contains(QStringLiteral("Input/output error")),
                   QStringLiteral("the link's error was not reported"));
    else
        row.expect(r.boxes.isEmpty(), QStringLiteral("unexpected message box"));
}

// A run whose port cannot be opened: one box, no window, nothing sent.
void OpenFailRow(MainWindowRig& rig, Row& row) {
    rig.loadProgram(ProgramBytes(2 * 256));
    const RunResult r = RunDevice(rig, &TformMain::BtnWriteClick);
    row.sees = Sees(r);
    row.after = QStringLiteral("device got %1 frames; %2")
                    .arg(rig.device.Stats().writeFrames)
                    .arg(r.released ? QStringLiteral("no descriptor of the program on the line")
                                    : QStringLiteral("port still open"));
    ExpectCommon(row, r);
    row.expect(!r.progressShown, QStringLiteral("the progress window came up"));
    row.expect(r.boxes == QStringList{QStringLiteral("Не могу открыть порт")},
               QStringLiteral("expected the box \"Не могу открыть порт\""));
    row.expect(!formMain->VaComm1->IsOpen(), QStringLiteral("port reported open"));
    row.expect(rig.device.Stats().writeFrames == 0, QStringLiteral("frames reached the device"));
}

void OpenProgram(const QString& path) {
    TFileDialog::SetAnswer([path](const TFileDialog&) { return std::optional<QString>(path); });
    formMain->BtnOpenClick();
    TFileDialog::SetAnswer({});
}

void SaveAs(const QString& path) {
    formMain->BtnSaveAs->setEnabled(true);
    TFileDialog::SetAnswer([path](const TFileDialog&) { return std::optional<QString>(path); });
    formMain->BtnSaveAsClick();
    TFileDialog::SetAnswer({});
}

// The thread sanitizer does not follow a child started from a threaded process.
#ifdef __SANITIZE_THREAD__
#define SKIP_IF_NO_CHILDREN() QSKIP("needs a child process, which TSan cannot follow")
#else
#define SKIP_IF_NO_CHILDREN() (void)0
#endif

// ---------------------------------------------------------------- child copies

int ChildMain(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = argv[1];
    ChildRecordBoxes();
    if (mode == "--child-saveas-loop") {
        // Saves two images in turn over one file until killed.
        const QString target = QString::fromLocal8Bit(argv[2]);
        const QByteArray images[2] = {Image(1), Image(2)};
        for (long i = 0;; ++i) {
            SetDeviceImage(images[i % 2]);
            SaveDeviceImageAs(BoxNotices(), target);
            if (i == 0)
                ChildSay("ready");
        }
    }
    TApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (mode == "--child-saveas-full") {
        const QString target = QString::fromLocal8Bit(argv[2]);
        auto window = StartMainWindow();
        SetDeviceImage(Image(2));
        DeviceImageValid = true;
        window->BtnSaveAs->setEnabled(true);
        TFileDialog::SetAnswer(
            [target](const TFileDialog&) { return std::optional<QString>(target); });
        window->BtnSaveAsClick();
        ChildSay("done");
        return 0;
    }
    if (mode == "--child-settings-full") {
        auto window = StartMainWindow();
        window->cbCheck->setChecked(!window->cbCheck->isChecked());
        window->close(); // the settings are saved at closing
        window.reset();
        ChildSay("done");
        return 0;
    }
    if (mode == "--child-settings-loop") {
        auto window = StartMainWindow();
        for (long i = 0;; ++i) {
            ApplySettings(*window, i % 2 == 0 ? SetB : SetA);
            window->FormStorage1->SaveToStore();
            if (i == 0)
                ChildSay("ready");
        }
    }
    if (mode == "--child-settings-copy") {
        // One of two copies that save their own settings at the same time.
        const QString name = QString::fromLocal8Bit(argv[2]);
        const int rounds = QByteArray(argv[3]).toInt();
        auto window = StartMainWindow();
        ChildSay("ready");
        char go[16];
        if (!std::fgets(go, sizeof go, stdin))
            return 3;
        for (int i = 0; i < rounds; ++i) {
            ApplySettings(*window, {i % 2 ? QStringLiteral("True") : QStringLiteral("False"),
                                    name == u"A" ? QStringLiteral("2") : QStringLiteral("5"),
                                    QStringLiteral("/programs/%1-%2.bin").arg(name).arg(i)});
            window->FormStorage1->SaveToStore();
        }
        window->close();
        window.reset();
        ChildSay("done");
        return 0;
    }
    return 2;
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
private slots:
    void init() { SetApplicationTitle(QStringLiteral("Vendrik")); }
    void cleanupTestCase() { PrintTable(); }

    // ------------------------------------------------------------ the line

    void unpluggedMidWrite() {
        Row row(QStringLiteral("device unplugged mid-write (line hangs up at sector 2 of 4)"));
        WriteRow({"W:2:hangup"}, 4, {0, 1}, WriteFailed, 2, true, row);
        REPORT(row);
    }

    void unpluggedMidRead() {
        Row row(QStringLiteral("device unplugged mid-read (line hangs up at sector 2)"));
        ReadFailRow({"R:2:hangup"}, 3, true, row);
        REPORT(row);
    }

    void silentDeviceAfterAnnouncement() {
        Row row(QStringLiteral("silent device: announces itself, then answers nothing"));
        WriteRow({"W:*:noreply:-1"}, 3, {0, 0}, WriteFailed, 1, false, row);
        REPORT(row);
    }

    void silentDeviceNeverSwitchedOn() {
        Row row(QStringLiteral("silent device: never announces itself"));
        MainWindowRig rig(DeviceConfig("!", {}, sim::SwitchOn::Manual));
        rig.loadProgram(ProgramBytes(2 * 256));
        QElapsedTimer waited;
        waited.start();
        const RunResult r =
            RunDevice(rig, &TformMain::BtnWriteClick, [&] { return waited.elapsed() > 600; });
        const bool listening = formMain->VaComm1->IsOpen();
        const bool freed = CloseMainWindowFreesPort(rig, r);
        row.sees = Sees(r) + QStringLiteral("; the operator closes the progress window");
        row.after = QStringLiteral("device got %1 frames; %2 until the main window closed, "
                                   "then %3")
                        .arg(rig.device.Stats().writeFrames)
                        .arg(listening ? QStringLiteral("port kept listening for the device")
                                       : QStringLiteral("port closed"))
                        .arg(freed ? "released" : "still open");
        row.expect(!r.timedOut, QStringLiteral("hung"));
        row.expect(r.status == Searching, QStringLiteral("status %1").arg(Q(r.status)));
        row.expect(r.boxes.isEmpty(), QStringLiteral("unexpected message box"));
        row.expect(freed, QStringLiteral("port not released at the end"));
        REPORT(row);
    }

    void acknowledgementInsideTheWait() {
        Row row(QStringLiteral("late acknowledgement inside the 300 ms wait (200 ms, every "
                               "sector)"));
        WriteRow({"W:*:late:-1:200"}, 3, {0, 1, 2}, Written, 3, false, row);
        REPORT(row);
    }

    void acknowledgementAfterTheWait() {
        Row row(QStringLiteral("late acknowledgement after the wait (400 ms, sector 1 once)"));
        WriteRow({"W:1:late:1:400"}, 3, {0, 1, 1, 2}, Written, 3, false, row);
        REPORT(row);
    }

    void wrongAcknowledgement() {
        Row row(QStringLiteral("wrong acknowledgement (\"E\" for sector 1, twice)"));
        WriteRow({"W:1:wrongack:2"}, 3, {0, 1, 1}, WriteFailed, 2, false, row);
        REPORT(row);
    }

    void noiseBeforeAcknowledgement() {
        Row row(QStringLiteral("noise before an acknowledgement (sector 1, once)"));
        WriteRow({"W:1:noise:1"}, 3, {0, 1, 1, 2}, Written, 3, false, row);
        REPORT(row);
    }

    void badChecksum() {
        Row row(QStringLiteral("bad checksum in a read reply (sector 1, twice)"));
        ReadFailRow({"R:1:badsum:2"}, 2, false, row);
        REPORT(row);
    }

    void shortReply() {
        Row row(QStringLiteral("259-byte read reply (sector 1, twice)"));
        ReadFailRow({"R:1:short:2"}, 2, false, row);
        REPORT(row);
    }

    void longReply() {
        Row row(QStringLiteral("261-byte read reply (sector 1, twice)"));
        ReadFailRow({"R:1:long:2"}, 2, false, row);
        REPORT(row);
    }

    void noiseBeforeReadReply() {
        Row row(QStringLiteral("noise before a read reply (sector 1, twice)"));
        ReadFailRow({"R:1:noise:2"}, 2, false, row);
        REPORT(row);
    }

    void fourByteAnnouncement() {
        Row row(QStringLiteral("four-byte announcement (\"!!!!\")"));
        MainWindowRig rig(DeviceConfig("!!!!"));
        rig.loadProgram(ProgramBytes(2 * 256));
        QElapsedTimer waited;
        waited.start();
        const RunResult r = RunDevice(rig, &TformMain::BtnWriteClick, [&] {
            return rig.device.Stats().announcements > 0 && waited.elapsed() > 800;
        });
        const bool freed = CloseMainWindowFreesPort(rig, r);
        row.sees = Sees(r) + QStringLiteral(": the announcement is ignored");
        row.after = QStringLiteral("device got %1 frames; port listening until the main window "
                                   "closed, then %2")
                        .arg(rig.device.Stats().writeFrames)
                        .arg(freed ? "released" : "still open");
        row.expect(!r.timedOut, QStringLiteral("hung"));
        row.expect(rig.device.Stats().announcements == 1, QStringLiteral("no announcement"));
        row.expect(r.status == Searching, QStringLiteral("status %1").arg(Q(r.status)));
        row.expect(rig.device.Stats().writeFrames == 0, QStringLiteral("frames were sent"));
        row.expect(freed, QStringLiteral("port not released at the end"));
        REPORT(row);
    }

    // ------------------------------------------------------------ opening the port

    void portHeldByAnotherProcess() {
        SKIP_IF_NO_CHILDREN();
        Row row(QStringLiteral("port held by another process"));
        MainWindowRig rig;
        PortHolder holder(rig.device.SlavePath());
        row.expect(holder.holding(), QStringLiteral("the other process could not take the port"));
        OpenFailRow(rig, row);
        REPORT(row);
    }

    void portMissing() {
        Row row(QStringLiteral("port missing (COM1 names no device)"));
        MainWindowRig rig;
        rig.home.linkComPort(1, QStringLiteral("/dev/vendrik-no-such-port"));
        OpenFailRow(rig, row);
        REPORT(row);
    }

    void portPermissionDenied() {
        Row row(QStringLiteral("permission denied on the port"));
        MainWindowRig rig;
        const QByteArray line = QFile::encodeName(rig.device.SlavePath());
        struct stat st {};
        ::stat(line.constData(), &st);
        ::chmod(line.constData(), 0);
        {
            PermissionChecksOn checked;
            const int probe = ::open(line.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int probeErrno = errno;
            if (probe >= 0)
                ::close(probe);
            row.expect(checked.ok() && probe < 0 && probeErrno == EACCES,
                       QStringLiteral("could not make the port unreadable"));
            OpenFailRow(rig, row);
        }
        ::chmod(line.constData(), st.st_mode & 07777);
        REPORT(row);
    }

    // ------------------------------------------------------------ program files

    void unreadableProgramFile() {
        Row row(QStringLiteral("unreadable program file (mode 000)"));
        MainWindowRig rig;
        rig.loadProgram(ProgramBytes(1000), QStringLiteral("good.bin"));
        const QString path = rig.files.filePath(QStringLiteral("locked.bin"));
        const QByteArray bytes = ProgramBytes(700);
        WriteWholeFile(path, bytes);
        ::chmod(QFile::encodeName(path).constData(), 0);
        {
            PermissionChecksOn checked;
            row.expect(checked.ok(), QStringLiteral("could not drop the overriding rights"));
            OpenProgram(path);
        }
        ::chmod(QFile::encodeName(path).constData(), 0644);
        const QStringList boxes = Texts(rig.boxes.boxes);
        row.sees = BoxesText(boxes) + QStringLiteral("; file fields blank");
        row.after = QStringLiteral("no program loaded; the file unchanged: %1")
                        .arg(ReadWholeFile(path) == bytes ? "yes" : "no");
        row.expect(boxes == QStringList{QStringLiteral("Не могу считать файл")},
                   QStringLiteral("expected \"Не могу считать файл\""));
        row.expect(!ProgramLoaded && formMain->stNameFile->text().isEmpty(),
                   QStringLiteral("a program counts as loaded"));
        row.expect(ReadWholeFile(path) == bytes, QStringLiteral("the file changed"));
        REPORT(row);
    }

    void oversizedProgramFile() {
        Row row(QStringLiteral("oversized program file (131073 bytes)"));
        MainWindowRig rig;
        const QString path = rig.files.filePath(QStringLiteral("big.bin"));
        WriteWholeFile(path, ProgramBytes(MaxFileSize + 1));
        OpenProgram(path);
        const QStringList boxes = Texts(rig.boxes.boxes);
        row.sees = BoxesText(boxes);
        row.after = QStringLiteral("no program loaded; the file unchanged");
        row.expect(boxes == QStringList{QStringLiteral("Размер файла превышает максимально "
                                                       "допустимый")},
                   QStringLiteral("expected the size box"));
        row.expect(!ProgramLoaded, QStringLiteral("a program counts as loaded"));
        row.expect(ReadWholeFile(path).size() == MaxFileSize + 1,
                   QStringLiteral("the file changed"));
        REPORT(row);
    }

    void fifoAsProgramFile() {
        Row row(QStringLiteral("FIFO chosen as the program file (no writer)"));
        MainWindowRig rig;
        const QString path = rig.files.filePath(QStringLiteral("pipe.bin"));
        ::mkfifo(QFile::encodeName(path).constData(), 0644);
        QElapsedTimer took;
        took.start();
        OpenProgram(path);
        const qint64 ms = took.elapsed();
        const QStringList boxes = Texts(rig.boxes.boxes);
        row.sees = BoxesText(boxes) + QStringLiteral(" after %1 ms").arg(ms);
        row.after = QStringLiteral("no program loaded; nothing waits on the FIFO");
        row.expect(boxes == QStringList{QStringLiteral("Не могу считать файл")},
                   QStringLiteral("expected \"Не могу считать файл\""));
        row.expect(ms < 2000, QStringLiteral("waited on the FIFO"));
        row.expect(!ProgramLoaded, QStringLiteral("a program counts as loaded"));
        REPORT(row);
    }

    // ------------------------------------------------------------ Save As

    void saveAsIntoReadOnlyFolderOverWritableFile() {
        Row row(QStringLiteral("Save As into a read-only folder, over a writable file"));
        MainWindowRig rig;
        const QString folder = rig.files.filePath(QStringLiteral("ro"));
        const QString target = folder + QStringLiteral("/device.bin");
        WriteWholeFile(target, Image(1));
        SetDeviceImage(Image(2));
        DeviceImageValid = true;
        ::chmod(QFile::encodeName(folder).constData(), 0555);
        {
            PermissionChecksOn checked;
            row.expect(checked.ok(), QStringLiteral("could not drop the overriding rights"));
            SaveAs(target);
        }
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        const QByteArray now = ReadWholeFile(target);
        const QStringList boxes = Texts(rig.boxes.boxes);
        row.sees = BoxesText(boxes);
        row.after = QStringLiteral("file holds %1; other files in the folder: %2")
                        .arg(now == Image(2)   ? "the new image"
                             : now == Image(1) ? "the old image"
                                               : "neither image")
                        .arg(Others(folder, {"device.bin"}).size());
        row.expect(now == Image(1) || now == Image(2), QStringLiteral("file damaged"));
        row.expect(boxes.isEmpty() && now == Image(2),
                   QStringLiteral("the file itself is writable, yet it was not saved"));
        row.expect(Others(folder, {"device.bin"}).isEmpty(), QStringLiteral("files left over"));
        REPORT(row);
    }

    void saveAsNewFileIntoReadOnlyFolder() {
        Row row(QStringLiteral("Save As of a new file into a read-only folder"));
        MainWindowRig rig;
        const QString folder = rig.files.filePath(QStringLiteral("ro"));
        QDir().mkpath(folder);
        SetDeviceImage(Image(2));
        DeviceImageValid = true;
        ::chmod(QFile::encodeName(folder).constData(), 0555);
        {
            PermissionChecksOn checked;
            row.expect(checked.ok(), QStringLiteral("could not drop the overriding rights"));
            SaveAs(folder + QStringLiteral("/device.bin"));
        }
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        const QStringList boxes = Texts(rig.boxes.boxes);
        row.sees =
            BoxesText(boxes) +
            QStringLiteral("; Save As still enabled: %1").arg(DeviceImageValid ? "yes" : "no");
        row.after = QStringLiteral("files in the folder: %1").arg(Others(folder, {}).size());
        row.expect(boxes == QStringList{QStringLiteral("Не могу сохранить в файл.")},
                   QStringLiteral("expected \"Не могу сохранить в файл.\""));
        row.expect(Others(folder, {}).isEmpty(), QStringLiteral("files left over"));
        row.expect(DeviceImageValid, QStringLiteral("the image can no longer be saved"));
        REPORT(row);
    }

    void diskFullDuringSaveAs() {
        Row row(QStringLiteral("disk full during Save As (file size limit 64 KiB, child "
                               "process)"));
        SKIP_IF_NO_CHILDREN();
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("device.bin"));
        WriteWholeFile(target, Image(1));
        TempConfigHome home;
        ChildCopy child(QStringLiteral("saveas-full"), {target}, 64 * 1024);
        const bool done = child.finish(30000);
        row.sees = BoxesText(child.boxes());
        row.after = QStringLiteral("old file intact: %1; other files in the folder: %2")
                        .arg(ReadWholeFile(target) == Image(1) ? "yes" : "no")
                        .arg(Others(dir.path(), {"device.bin"}).size());
        row.expect(done && child.exitedNormally(), QStringLiteral("the child crashed or hung"));
        row.expect(child.boxes() == QStringList{QStringLiteral("Не могу сохранить в файл.")},
                   QStringLiteral("expected \"Не могу сохранить в файл.\""));
        row.expect(ReadWholeFile(target) == Image(1), QStringLiteral("the old file was damaged"));
        row.expect(Others(dir.path(), {"device.bin"}).isEmpty(), QStringLiteral("files left over"));
        REPORT(row);
    }

    void killedDuringSaveAs() {
        Row row(QStringLiteral("program killed (SIGKILL) during Save As, 8 times"));
        SKIP_IF_NO_CHILDREN();
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("device.bin"));
        std::mt19937 rng(20261208);
        int whole = 0, kills = 0;
        for (int k = 0; k < 8; ++k) {
            ChildCopy child(QStringLiteral("saveas-loop"), {target});
            if (!child.waitForLine("ready", 20000)) {
                row.expect(false, QStringLiteral("the saving copy did not start"));
                break;
            }
            QThread::usleep(std::uniform_int_distribution<unsigned>(0, 25000)(rng));
            child.kill();
            ++kills;
            const QByteArray now = ReadWholeFile(target);
            whole += now == Image(1) || now == Image(2) ? 1 : 0;
        }
        const int leftovers = int(Others(dir.path(), {"device.bin"}).size());
        // The operator saves again after the crash.
        MessageRecorder boxes;
        SetDeviceImage(Image(3));
        SaveDeviceImageAs(BoxNotices(), target);
        const int stillLeft = int(Others(dir.path(), {"device.bin"}).size());
        row.sees = QStringLiteral("(program gone); the next Save As: %1")
                       .arg(BoxesText(Texts(boxes.boxes)));
        row.after = QStringLiteral("file whole (old or new image) after %1 of %2 kills; "
                                   "temporary files left by the kills: %3, after the next save: %4")
                        .arg(whole)
                        .arg(kills)
                        .arg(leftovers)
                        .arg(stillLeft);
        row.expect(whole == kills && kills == 8, QStringLiteral("the file was damaged"));
        row.expect(boxes.boxes.isEmpty() && ReadWholeFile(target) == Image(3),
                   QStringLiteral("the next save failed"));
        row.expect(stillLeft == 0, QStringLiteral("temporary files pile up"));
        REPORT(row);
    }

    // ------------------------------------------------------------ settings

    void diskFullDuringSettingsSave() {
        Row row(QStringLiteral("disk full during the settings save (file size limit 128 bytes, "
                               "child process)"));
        SKIP_IF_NO_CHILDREN();
        TempConfigHome home;
        const QByteArray old = StoreText(SetA);
        WriteStoreFile(old);
        ChildCopy child(QStringLiteral("settings-full"), {}, 128);
        const bool done = child.finish(30000);
        row.sees = BoxesText(child.boxes());
        row.after = QStringLiteral("user.reg unchanged: %1; leftovers: %2")
                        .arg(ReadStoreFile() == old ? "yes" : "no")
                        .arg(StoreLeftovers(home.vendrikDir()).size());
        row.expect(done && child.exitedNormally(), QStringLiteral("the child crashed or hung"));
        row.expect(!child.boxes().isEmpty(), QStringLiteral("the failure was not reported"));
        row.expect(ReadStoreFile() == old, QStringLiteral("user.reg changed"));
        row.expect(StoreLeftovers(home.vendrikDir()).isEmpty(), QStringLiteral("files left over"));
        REPORT(row);
    }

    void damagedSettingsFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("junk") << QStringLiteral("damaged settings file (binary junk after the "
                                                "values)")
                              << StoreText({"True", "5", ""}) + "\x89PNG\r\n\x1a\n\xff\xfe\n";
        QTest::newRow("continuation into a key")
            << QStringLiteral("damaged settings file (hex value cut off before a key line)")
            << StoreHead + "[HKEY_CURRENT_USER\\Software\\Vendrik\\Other]\n\"x\"=hex:01,02,\\\n" +
                   StoreText({"True", "5", ""}).mid(StoreHead.size());
    }
    void damagedSettingsFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        Row row(name);
        TempConfigHome home;
        MessageRecorder boxes;
        WriteStoreFile(text);
        auto window = StartMainWindow();
        const bool shown = window->isVisible();
        const bool restored = window->cbCheck->isChecked() && window->cbPort->currentIndex() == 5;
        // The operator picks COM4 and ends the program: the file must be replaced now.
        window->cbPort->setCurrentIndex(3);
        window->cbPortChange();
        window->close();
        window.reset();
        const QStringList copies =
            QDir(home.vendrikDir()).entryList({"user.reg.damaged-*"}, QDir::Files);
        bool clean = false;
        const Settings now = StoredSettings(ReadStoreFile(), &clean);
        row.sees = QStringLiteral("window comes up with COM%1, box ticked: %2; %3")
                       .arg(restored ? 6 : 1)
                       .arg(restored ? "yes" : "no")
                       .arg(BoxesText(Texts(boxes.boxes)));
        row.after = QStringLiteral("after choosing COM4: old file kept aside as %1; new user.reg "
                                   "clean: %2, box ticked: %3, port tag %4")
                        .arg(copies.isEmpty() ? QStringLiteral("(nothing)") : copies.join(", "))
                        .arg(clean ? "yes" : "no")
                        .arg(now.check == u"True" ? "yes" : "no", now.port);
        row.expect(shown, QStringLiteral("the window did not come up"));
        row.expect(restored, QStringLiteral("settings that were readable were not restored"));
        row.expect(copies.size() == 1 &&
                       ReadWholeFile(home.vendrikDir() + u'/' + copies.value(0)) == text,
                   QStringLiteral("the damaged file was not kept aside"));
        row.expect(clean && now.check == u"True" && now.port == u"3",
                   QStringLiteral("the new file is wrong"));
        row.expect(boxes.boxes.isEmpty(), QStringLiteral("unexpected message box"));
        REPORT(row);
    }

    void twoCopiesSavingAtOnce() {
        Row row(QStringLiteral("two running copies saving their settings at once (30 saves "
                               "each)"));
        SKIP_IF_NO_CHILDREN();
        TempConfigHome home;
        WriteStoreFile(StoreText(SetA));
        const int rounds = 30;
        ChildCopy a(QStringLiteral("settings-copy"), {"A", QString::number(rounds)});
        ChildCopy b(QStringLiteral("settings-copy"), {"B", QString::number(rounds)});
        const bool ready = a.waitForLine("ready", 20000) && b.waitForLine("ready", 20000);
        a.send("go\n");
        b.send("go\n");
        const bool done = a.finish(60000) && b.finish(60000);
        bool clean = false;
        const Settings now = StoredSettings(ReadStoreFile(), &clean);
        const QString lastA = QStringLiteral("/programs/A-%1.bin").arg(rounds - 1);
        const QString lastB = QStringLiteral("/programs/B-%1.bin").arg(rounds - 1);
        const QStringList damaged =
            QDir(home.vendrikDir()).entryList({"user.reg.damaged-*"}, QDir::Files);
        row.sees = QStringLiteral("copy A: %1; copy B: %2")
                       .arg(BoxesText(a.boxes()), BoxesText(b.boxes()));
        row.after = QStringLiteral("user.reg clean: %1, holds port tag %2 and file %3 (each the "
                                   "last of one copy); leftovers: %4")
                        .arg(clean ? "yes" : "no")
                        .arg(now.port, now.file)
                        .arg(StoreLeftovers(home.vendrikDir()).size());
        row.expect(ready && done && a.exitedNormally() && b.exitedNormally(),
                   QStringLiteral("a copy crashed or hung"));
        row.expect(a.boxes().isEmpty() && b.boxes().isEmpty(), QStringLiteral("a save failed"));
        row.expect(clean && damaged.isEmpty(), QStringLiteral("user.reg damaged"));
        row.expect((now.port == u"2" || now.port == u"5") &&
                       (now.file == lastA || now.file == lastB),
                   QStringLiteral("user.reg holds a value no copy saved last"));
        row.expect(StoreLeftovers(home.vendrikDir()).isEmpty(), QStringLiteral("files left over"));
        REPORT(row);
    }

    void killedDuringSettingsSave() {
        Row row(QStringLiteral("program killed (SIGKILL) during the settings save, 8 times"));
        SKIP_IF_NO_CHILDREN();
        TempConfigHome home;
        WriteStoreFile(StoreText(SetA));
        std::mt19937 rng(1208);
        int good = 0, kills = 0;
        for (int k = 0; k < 8; ++k) {
            ChildCopy child(QStringLiteral("settings-loop"), {});
            if (!child.waitForLine("ready", 20000)) {
                row.expect(false, QStringLiteral("the saving copy did not start"));
                break;
            }
            QThread::usleep(std::uniform_int_distribution<unsigned>(0, 25000)(rng));
            child.kill();
            ++kills;
            bool clean = false;
            const Settings now = StoredSettings(ReadStoreFile(), &clean);
            auto either = [](const QString& v, const QString& a, const QString& b) {
                return v == a || v == b;
            };
            good += clean && either(now.check, SetA.check, SetB.check) &&
                            either(now.port, SetA.port, SetB.port) &&
                            either(now.file, SetA.file, SetB.file)
                        ? 1
                        : 0;
        }
        const int leftovers = int(StoreLeftovers(home.vendrikDir()).size());
        // The next start of the program saves again.
        MessageRecorder boxes;
        {
            auto window = StartMainWindow();
            ApplySettings(*window, {"True", "7", "/programs/c.bin"});
            window->close();
        }
        bool clean = false;
        const Settings now = StoredSettings(ReadStoreFile(), &clean);
        const int stillLeft = int(StoreLeftovers(home.vendrikDir()).size());
        row.sees = QStringLiteral("(program gone); the next start and close: %1")
                       .arg(BoxesText(Texts(boxes.boxes)));
        row.after = QStringLiteral("user.reg clean, each value an old or a new one, after %1 of "
                                   "%2 kills; temporary files left by the kills: %3, after the "
                                   "next save: %4")
                        .arg(good)
                        .arg(kills)
                        .arg(leftovers)
                        .arg(stillLeft);
        row.expect(good == kills && kills == 8, QStringLiteral("user.reg was damaged"));
        row.expect(clean && now.port == u"7" && boxes.boxes.isEmpty(),
                   QStringLiteral("the next save failed"));
        row.expect(stillLeft == 0, QStringLiteral("temporary files pile up"));
        REPORT(row);
    }
};

int main(int argc, char** argv) {
    if (argc >= 2 && QByteArray(argv[1]).startsWith("--child-"))
        return ChildMain(argc, argv);
    TApplication app(argc, argv);
    // The rows close the main window; the run of rows must go on.
    QApplication::setQuitOnLastWindowClosed(false);
    TestFaultMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faultmatrix.moc"
