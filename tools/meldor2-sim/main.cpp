// meldor2-sim: a simulated Мелдор-2 on a pseudo-terminal, to run the programmer against
// by hand. See --help.

#include "platform/SerialNames.h"
#include "platform/VisibleText.h"
#include "tools/simdevice/SimDevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// "\r!" style escapes: \r \n \t \\ \xHH.
QByteArray Unescape(const QString& text) {
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(v);
                i += 2;
            } else {
                out += "\\x";
            }
        } else {
            out += c;
        }
    }
    return out;
}

const char* kDescription = R"(Simulated Мелдор-2 measuring device on a pseudo-terminal.

The device starts switched off and ignores every byte. It switches on (see --switch-on)
and sends its announcement, then answers:
  write frame  "W" sector(LE16) 256 bytes checksum   -> "!" (the sector is stored)
  read request "R" sector(LE16) checksum             -> "D" sector(LE16) 256 bytes checksum
A frame whose bytes do not sum to 0 (mod 256) is logged and not answered. Every frame is
logged with a time stamp on stderr (or --log FILE).

Switch-on modes:
  open    every opening of the port switches the device on after --delay ms (default),
          the last close switches it off again: each device run finds it freshly on
  delay   once, --delay ms after start
  manual  when you press Enter here
Pressing Enter switches the device on in any mode; typing "h" and Enter hangs up.

Faults (--fault, repeatable): OP:SECTOR:KIND[:TIMES[:PARAM]]
  OP      W, R or *          SECTOR  number or *
  KIND    noreply | late (PARAM ms, default 400) | wrongack (write answered "E") |
          badsum | short (259 bytes) | long (261 bytes; a write: "!OK\r\n") |
          noise (PARAM bytes before the reply, default 3) | hangup (close the line) |
          badcell (a write acknowledged, byte PARAM of the sector stored inverted) |
          trail (a write acknowledged, then "\r" PARAM ms later, default 400)
  TIMES   frames it hits, default 1; -1 for all
  Example: --fault W:2:noreply:1 lets the first attempt at sector 2 go unanswered.
--random-faults RATE adds a random fault to that share of frames (0 to 1), --seed N.

Stop with Ctrl+C; --dump FILE then writes the device memory (131072 bytes).)";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("meldor2-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    const QCommandLineOption comOpt(
        QStringLiteral("com"),
        QStringLiteral("Link the program's COM<n> ($XDG_CONFIG_HOME/vendrik/dosdevices/com<n>) "
                       "to the simulator."),
        QStringLiteral("n"));
    const QCommandLineOption announceOpt(QStringLiteral("announce"),
                                         QStringLiteral("Announcement burst, with \\r \\n "
                                                        "\\xHH escapes (default \"!\")."),
                                         QStringLiteral("text"), QStringLiteral("!"));
    const QCommandLineOption switchOpt(QStringLiteral("switch-on"),
                                       QStringLiteral("open (default), delay or manual."),
                                       QStringLiteral("mode"), QStringLiteral("open"));
    const QCommandLineOption delayOpt(QStringLiteral("delay"),
                                      QStringLiteral("Switch-on delay in ms (default 200)."),
                                      QStringLiteral("ms"), QStringLiteral("200"));
    const QCommandLineOption loadOpt(QStringLiteral("load"),
                                     QStringLiteral("Initial memory from a .bin file (rest 0xFF)."),
                                     QStringLiteral("file"));
    const QCommandLineOption dumpOpt(QStringLiteral("dump"),
                                     QStringLiteral("Write the memory to a .bin file on exit."),
                                     QStringLiteral("file"));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Log to this file instead of stderr."),
                                    QStringLiteral("file"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"),
                                      QStringLiteral("Fault rule OP:SECTOR:KIND[:TIMES[:PARAM]]."),
                                      QStringLiteral("rule"));
    const QCommandLineOption randomOpt(QStringLiteral("random-faults"),
                                       QStringLiteral("Share of frames given a random fault."),
                                       QStringLiteral("rate"), QStringLiteral("0"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the random faults (default 1)."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({comOpt, announceOpt, switchOpt, delayOpt, loadOpt, dumpOpt, logOpt, faultOpt,
                       randomOpt, seedOpt});
    parser.process(app);

    auto die = [](const QString& msg) {
        std::fprintf(stderr, "meldor2-sim: %s\n", VisibleText(msg).toUtf8().constData());
        return 2;
    };

    sim::SimConfig config;
    config.announcement = Unescape(parser.value(announceOpt));
    const QString mode = parser.value(switchOpt);
    if (mode == u"open")
        config.switchOn = sim::SwitchOn::OnOpen;
    else if (mode == u"delay")
        config.switchOn = sim::SwitchOn::AfterDelay;
    else if (mode == u"manual")
        config.switchOn = sim::SwitchOn::Manual;
    else
        return die(QStringLiteral("--switch-on must be open, delay or manual"));
    bool ok = false;
    config.switchOnDelayMs = parser.value(delayOpt).toInt(&ok);
    if (!ok || config.switchOnDelayMs < 0)
        return die(QStringLiteral("--delay must be a number of ms"));
    for (const QString& text : parser.values(faultOpt)) {
        QString error;
        const auto rule = sim::ParseFaultRule(text, &error);
        if (!rule)
            return die(error);
        config.faults.rules.push_back(*rule);
    }
    config.faults.randomRate = parser.value(randomOpt).toDouble(&ok);
    if (!ok || config.faults.randomRate < 0 || config.faults.randomRate > 1)
        return die(QStringLiteral("--random-faults must be 0 to 1"));
    config.faults.seed = parser.value(seedOpt).toUInt(&ok);
    if (!ok)
        return die(QStringLiteral("--seed must be a number"));

    FILE* logFile = stderr;
    if (parser.isSet(logOpt)) {
        logFile = std::fopen(QFile::encodeName(parser.value(logOpt)).constData(), "a");
        if (!logFile)
            return die(QStringLiteral("can't open %1").arg(parser.value(logOpt)));
    }
    config.log = [logFile](const QByteArray& line) {
        // File and device names reach the log: shown harmless wherever it is read.
        std::fprintf(logFile, "%s\n", VisibleText(QByteArrayView(line)).toUtf8().constData());
        std::fflush(logFile);
    };

    // Signals are taken through a descriptor so the main loop can wait on it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    sim::SimDevice device(config);
    if (parser.isSet(loadOpt)) {
        QString error;
        if (!device.LoadMemory(parser.value(loadOpt), &error))
            return die(error);
    }
    QString error;
    if (!device.Start(&error))
        return die(error);
    int com = 0;
    if (parser.isSet(comOpt)) {
        com = parser.value(comOpt).toInt(&ok);
        if (!ok || com < 1)
            return die(QStringLiteral("--com must be 1 or more"));
        if (!sim::LinkComPort(com, device.SlavePath(), &error))
            return die(error);
        std::fprintf(stderr, "meldor2-sim: COM%d -> %s\n", com,
                     VisibleText(device.SlavePath()).toUtf8().constData());
    }
    std::fprintf(stderr,
                 "meldor2-sim: device on %s; Enter switches on, h+Enter hangs up, "
                 "Ctrl+C stops\n",
                 VisibleText(device.SlavePath()).toUtf8().constData());

    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {STDIN_FILENO, short(stdinOpen ? POLLIN : 0), 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false; // run detached until a signal
                continue;
            }
            if (buf[0] == 'h')
                device.HangUp();
            else
                device.SwitchOn();
        }
    }
    device.Stop();
    const sim::SimStats s = device.Stats();
    std::fprintf(stderr,
                 "meldor2-sim: %d openings, %d announcements, %d write frames, %d read "
                 "requests, %d checksum errors, %d stray bytes, %d faults\n",
                 s.opens, s.announcements, s.writeFrames, s.readRequests, s.checksumErrors,
                 s.strayBytes, s.faults);
    int rc = 0;
    if (parser.isSet(dumpOpt) && !device.DumpMemory(parser.value(dumpOpt), &error))
        rc = die(error);
    // Leave the link alone if someone has pointed it elsewhere meanwhile.
    if (com > 0 && QFileInfo(ComPortLink(com)).symLinkTarget() == device.SlavePath())
        QFile::remove(ComPortLink(com));
    if (logFile != stderr)
        std::fclose(logFile);
    return rc;
}
