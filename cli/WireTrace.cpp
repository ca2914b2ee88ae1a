#include "cli/WireTrace.h"

#include "base/ProgramError.h"
#include "cli/Arguments.h"
#include "platform/SerialNames.h"
#include "platform/VisibleText.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <cstdio>
#include <utility>

namespace {

// Lines of a full 506-sector write with its read-back stay in memory: about 3000.
constexpr size_t ReservedRecords = 4096;

QByteArray Milliseconds(qint64 Ns) {
    return QByteArray::number(double(Ns) / 1e6, 'f', 3);
}

QByteArray SectorLabel(char Letter, quint16 Sector) {
    if (!Letter)
        return QByteArrayLiteral("-");
    return Letter + QByteArray::number(Sector);
}

QByteArray BytesText(const QByteArray& Bytes) {
    QByteArray line = QByteArray::number(Bytes.size());
    if (Bytes.isEmpty())
        return line + " (nothing)";
    line += ' ';
    line += Bytes.toHex(' ');
    line += " |";
    for (const char c : Bytes)
        line += c >= 0x20 && c < 0x7F ? c : '.';
    line += '|';
    return line;
}

QString PortName(const QString& Port) {
    if (const int com = ParseComNumber(Port))
        return QStringLiteral("COM%1").arg(com);
    QString name = Port.startsWith(QStringLiteral("/dev/")) ? Port.mid(5) : Port;
    while (name.startsWith(u'/'))
        name.remove(0, 1);
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'.' && c != u'_' && c != u'-')
            c = u'_';
    return name;
}

} // namespace

TTracingLink::~TTracingLink() {
    Finish();
}

bool TTracingLink::Begin(const QString& Path, const QString& Device, QString& Error) {
    file_.setFileName(Path);
    if (QFileInfo(Path).isDir() || !file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Error = QStringLiteral("Не могу создать файл трассы %1: %2")
                    .arg(Path, QFileInfo(Path).isDir() ? QStringLiteral("это папка")
                                                       : file_.errorString());
        return false;
    }
    path_ = Path;
    device_ = Device.toUtf8();
    records_.reserve(ReservedRecords);
    clock_.start();
    const QByteArray header =
        "# vendrik-cli wire trace of " + Device.toUtf8() + "\n# begun " +
        QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() +
        " (local time); TIME is milliseconds since then on the monotonic clock\n"
        "# DIR: > sent, < received, * event of the port; SECTOR: the last frame written\n"
        "#       TIME DIR SECTOR WHAT\n";
    file_.write(header);
    return true;
}

void TTracingLink::Record(qint64 Ns, TEvent Event, int Value, QByteArray Bytes, QString Text) {
    if (!file_.isOpen())
        return;
    records_.push_back(
        TRecord{Ns, Event, letter_, sector_, Value, std::move(Bytes), std::move(Text)});
}

void TTracingLink::Failed(std::exception_ptr Error) {
    Record(clock_.nsecsElapsed(), TEvent::Failed, 0, {}, ExceptionMessage(Error));
    std::rethrow_exception(Error);
}

void TTracingLink::Flush() {
    if (!file_.isOpen() || records_.empty())
        return;
    QByteArray out;
    out.reserve(qsizetype(records_.size()) * 96);
    for (const TRecord& r : records_) {
        out += Milliseconds(r.ns).rightJustified(11, ' ') + ' ';
        out += r.event == TEvent::Sent ? '>' : r.event == TEvent::Received ? '<' : '*';
        out += "   ";
        out += SectorLabel(r.letter, r.sector).leftJustified(6, ' ');
        out += ' ';
        switch (r.event) {
        case TEvent::Open:
            out += "open " + device_;
            break;
        case TEvent::Close:
            out += "close";
            break;
        case TEvent::Purge:
            out += "purge";
            break;
        case TEvent::Wait:
            out += "wait " + QByteArray::number(r.value) + " ms";
            break;
        case TEvent::Waiting:
            out += "bytes waiting " + QByteArray::number(r.value);
            break;
        case TEvent::Sent:
        case TEvent::Received:
            out += BytesText(r.bytes);
            break;
        case TEvent::Failed:
            out += "error: " + r.text.toUtf8();
            break;
        }
        out += '\n';
    }
    records_.clear();
    if (file_.write(out) != out.size() || !file_.flush())
        failed_ = true;
}

void TTracingLink::Finish() {
    if (!file_.isOpen())
        return;
    Flush();
    file_.write("# end at " + Milliseconds(clock_.nsecsElapsed()) +
                " ms: " + QByteArray::number(sent_) + " bytes sent, " +
                QByteArray::number(received_) + " received\n");
    if (!file_.flush())
        failed_ = true;
    file_.close();
    if (failed_ || file_.error() != QFileDevice::NoError)
        std::fprintf(stderr, "vendrik-cli: файл трассы %s записан не полностью: %s\n",
                     VisibleText(path_).toUtf8().constData(),
                     VisibleText(file_.errorString()).toUtf8().constData());
}

void TTracingLink::Open(int PortNum) {
    // Written out while no frame waits for its reply: the port is not open yet.
    Flush();
    letter_ = 0;
    Record(clock_.nsecsElapsed(), TEvent::Open, PortNum);
    try {
        inner_.Open(PortNum);
    } catch (...) {
        Failed(std::current_exception());
    }
}

void TTracingLink::Close() {
    Record(clock_.nsecsElapsed(), TEvent::Close);
    try {
        inner_.Close();
    } catch (...) {
        Failed(std::current_exception());
    }
}

void TTracingLink::Purge() {
    Record(clock_.nsecsElapsed(), TEvent::Purge);
    try {
        inner_.Purge();
    } catch (...) {
        Failed(std::current_exception());
    }
}

void TTracingLink::Write(const quint8* Data, int Count) {
    // A frame starts with its letter and the sector, low byte first.
    if (Count >= 3 && (Data[0] == 'W' || Data[0] == 'R')) {
        letter_ = char(Data[0]);
        sector_ = quint16(Data[1] | Data[2] << 8);
    }
    sent_ += Count;
    Record(clock_.nsecsElapsed(), TEvent::Sent, Count,
           QByteArray(reinterpret_cast<const char*>(Data), Count));
    try {
        inner_.Write(Data, Count);
    } catch (...) {
        Failed(std::current_exception());
    }
}

void TTracingLink::Wait(int Ms) {
    Record(clock_.nsecsElapsed(), TEvent::Wait, Ms);
    try {
        inner_.Wait(Ms);
    } catch (...) {
        Failed(std::current_exception());
    }
}

QByteArray TTracingLink::ReadText() {
    QByteArray text;
    try {
        text = inner_.ReadText();
    } catch (...) {
        Failed(std::current_exception());
    }
    received_ += text.size();
    Record(clock_.nsecsElapsed(), TEvent::Received, int(text.size()), text);
    return text;
}

int TTracingLink::BytesWaiting() {
    int n = 0;
    try {
        n = inner_.BytesWaiting();
    } catch (...) {
        Failed(std::current_exception());
    }
    Record(clock_.nsecsElapsed(), TEvent::Waiting, n);
    return n;
}

int TTracingLink::ReadBlock(quint8* Data, int Count) {
    int n = 0;
    try {
        n = inner_.ReadBlock(Data, Count);
    } catch (...) {
        Failed(std::current_exception());
    }
    const int taken = qBound(0, n, Count);
    received_ += taken;
    Record(clock_.nsecsElapsed(), TEvent::Received, taken,
           QByteArray(reinterpret_cast<const char*>(Data), taken));
    return n;
}

QString TraceFileForPort(const QString& File, const QString& Port) {
    const QString suffix = u'-' + PortName(Port);
    const qsizetype slash = File.lastIndexOf(u'/');
    const qsizetype dot = File.lastIndexOf(u'.');
    if (dot > slash + 1)
        return File.left(dot) + suffix + File.mid(dot);
    return File + suffix;
}

QString TraceArgumentsProblem(const TArguments& Args) {
    if (Args.trace.isEmpty())
        return {};
    auto same = [](const QString& a, const QString& b) {
        const QFileInfo x(a), y(b);
        const QString cx = x.canonicalFilePath(), cy = y.canonicalFilePath();
        if (!cx.isEmpty() && !cy.isEmpty())
            return cx == cy;
        return x.absoluteFilePath() == y.absoluteFilePath();
    };
    QHash<QString, QString> portOfFile;
    for (const QString& port : Args.ports) {
        const QString trace =
            Args.ports.size() > 1 ? TraceFileForPort(Args.trace, port) : Args.trace;
        if (same(trace, Args.file))
            return QStringLiteral(
                       "файл трассы %1 — тот же файл, что и ФАЙЛ команды: он был бы затёрт")
                .arg(trace);
        const QString key = QFileInfo(trace).absoluteFilePath();
        if (portOfFile.contains(key))
            return QStringLiteral("порты %1 и %2 дают один файл трассы %3")
                .arg(portOfFile[key], port, trace);
        portOfFile.insert(key, port);
    }
    return {};
}
