// vendrik-port: finds the serial port for Vendrik, points COM1..COM8 at it, says why a
// port does not open, writes the udev rule that opens an adapter to the logged-in user
// and tests the line with a loopback plug.

#include "platform/SerialNames.h"
#include "platform/VisibleText.h"
#include "tools/vendrik-port/ComMappings.h"
#include "tools/vendrik-port/ExitCodes.h"
#include "tools/vendrik-port/Loopback.h"
#include "tools/vendrik-port/PortProbe.h"
#include "tools/vendrik-port/SerialInventory.h"
#include "tools/vendrik-port/UdevRule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {
const char* const UsageText =
    "Использование: vendrik-port КОМАНДА [ПАРАМЕТРЫ]\n"
    "Помощник Vendrik: находит последовательный порт, назначает его номеру COM1–COM8,\n"
    "объясняет, почему порт не открывается, и проверяет линию заглушкой.\n"
    "\n"
    "Команды:\n"
    "  list              последовательные порты в системе (у USB-адаптеров — постоянное\n"
    "                    имя /dev/serial/by-id/…, драйвер, изготовитель, изделие, серийный\n"
    "                    номер) и куда сейчас ведут COM1–COM8\n"
    "  map N УСТРОЙСТВО  назначить COMN устройству (по постоянному имени, если оно есть)\n"
    "  unmap N           снять назначение COMN (тогда COMN — это /dev/ttyS(N-1))\n"
    "  check N           сказать, что мешает открыть COMN; порт, который держит другая\n"
    "                    программа, не открывается вовсе, иначе он открывается, как это\n"
    "                    делает программа, и закрывается с прежними настройками линии;\n"
    "                    в порт не посылается ни одного байта\n"
    "  udev N [--install]\n"
    "                    правило udev для USB-адаптера COMN (по коду изготовителя, изделия\n"
    "                    и серийному номеру): открывать порт может вошедший пользователь без\n"
    "                    группы dialout и нового входа (TAG+=\"uaccess\"), ModemManager\n"
    "                    адаптер не трогает (ENV{ID_MM_DEVICE_IGNORE}=\"1\");\n"
    "                    с --install записать его в /etc/udev/rules.d (через sudo, если не\n"
    "                    root) и применить (udevadm control --reload, udevadm trigger).\n"
    "                    Встроенному порту (ttyS) и псевдотерминалу правило не пишется\n"
    "  loopback N        проверка линии заглушкой (передача соединена с приёмом): кадры\n"
    "                    по 260 байт на 57600 8N1 должны вернуться целыми и вовремя\n"
    "  -h, --help        эта справка\n"
    "\n"
    "N — номер порта от 1 до 8. Назначения хранятся там же, где их ищет программа:\n"
    "${XDG_CONFIG_HOME:-~/.config}/vendrik/dosdevices/comN.\n"
    "\n";

QString HelpText() {
    return QString::fromUtf8(UsageText) + ExitCodeHelp(PortExitCodeMeanings(), 3);
}

// Every line goes out through here or Refuse: the names in it come from the system.
void Out(const QString& Line) {
    std::fputs(VisibleText(Line).toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Refuse(const QString& Why) {
    std::fprintf(stderr, "vendrik-port: %s\n", VisibleText(Why).toUtf8().constData());
    std::fputs("Подробнее: vendrik-port --help\n", stderr);
    return ExitRefused;
}

QString Describe(const TSerialPort& p) {
    QStringList parts;
    parts.append(p.usb ? QStringLiteral("USB-адаптер") : QStringLiteral("порт на плате"));
    if (!p.driver.isEmpty())
        parts.append(QStringLiteral("драйвер %1").arg(p.driver));
    if (p.usb) {
        QString what = QStringList{p.manufacturer, p.product}.join(u' ').trimmed();
        if (!p.vendorId.isEmpty())
            what += QStringLiteral(" (%1:%2)").arg(p.vendorId, p.productId);
        if (!what.trimmed().isEmpty())
            parts.append(what.trimmed());
        if (!p.serial.isEmpty())
            parts.append(QStringLiteral("серийный номер %1").arg(p.serial));
    }
    return parts.join(QStringLiteral(", "));
}

int List() {
    const QList<TSerialPort> ports = ListSerialPorts();
    if (ports.isEmpty())
        Out(QStringLiteral("Последовательных портов не найдено (USB-адаптер подключён?)."));
    else
        Out(QStringLiteral("Последовательные порты:"));
    for (const TSerialPort& p : ports) {
        Out(QStringLiteral("  %1  %2").arg(p.path, Describe(p)));
        if (!p.stableName.isEmpty())
            Out(QStringLiteral("      постоянное имя: %1").arg(p.stableName));
    }
    Out(QStringLiteral("Порты программы:"));
    for (int n = FirstComNumber; n <= LastComNumber; ++n) {
        const TComMapping m = ComMapping(n);
        QString line = QStringLiteral("  COM%1  %2").arg(n).arg(m.target);
        if (m.node != m.target)
            line += QStringLiteral(" -> %1").arg(m.node);
        if (!m.mapped)
            line += m.present ? QStringLiteral("  (по умолчанию)")
                              : QStringLiteral("  (по умолчанию; такого порта нет)");
        else if (!m.present)
            line += QStringLiteral("  УСТРОЙСТВА НЕТ");
        Out(line);
    }
    return ExitOk;
}

int Map(const QStringList& Args) {
    if (Args.size() != 2)
        return Refuse(
            QStringLiteral("map ждёт номер порта и устройство: vendrik-port map 1 /dev/ttyUSB0"));
    const int n = ParseComNumber(Args[0]);
    if (n == 0)
        return Refuse(QStringLiteral("номер порта должен быть от 1 до 8, а не «%1»").arg(Args[0]));
    QString used, error;
    switch (MapCom(n, Args[1], used, error)) {
    case TMapResult::Done:
        Out(QStringLiteral("COM%1 -> %2").arg(n).arg(used));
        return ExitOk;
    case TMapResult::NoSuchDevice:
        return Refuse(QStringLiteral("устройства %1 нет (список: vendrik-port list)").arg(Args[1]));
    case TMapResult::NotSerial:
        return Refuse(QStringLiteral("%1 — не последовательный порт (список: vendrik-port list)")
                          .arg(Args[1]));
    case TMapResult::NoHardware:
        return Refuse(QStringLiteral(
                          "за %1 нет порта: микросхема UART не найдена (список: vendrik-port list)")
                          .arg(Args[1]));
    case TMapResult::NotALink:
        return Refuse(
            QStringLiteral("%1 — не символическая ссылка; уберите её сами, если она не нужна")
                .arg(ComMapping(n).link));
    case TMapResult::Failed:
        break;
    }
    std::fprintf(stderr, "vendrik-port: не удалось назначить COM%d: %s\n", n,
                 VisibleText(error).toUtf8().constData());
    return ExitFailed;
}

int Unmap(const QStringList& Args) {
    if (Args.size() != 1)
        return Refuse(QStringLiteral("unmap ждёт номер порта: vendrik-port unmap 1"));
    const int n = ParseComNumber(Args[0]);
    if (n == 0)
        return Refuse(QStringLiteral("номер порта должен быть от 1 до 8, а не «%1»").arg(Args[0]));
    bool existed = false;
    QString error;
    switch (UnmapCom(n, existed, error)) {
    case TMapResult::Done:
        Out(existed
                ? QStringLiteral("COM%1 снова /dev/ttyS%2").arg(n).arg(n - 1)
                : QStringLiteral("COM%1 и так не назначен (это /dev/ttyS%2)").arg(n).arg(n - 1));
        return ExitOk;
    case TMapResult::NotALink:
        return Refuse(
            QStringLiteral("%1 — не символическая ссылка; уберите её сами, если она не нужна")
                .arg(ComMapping(n).link));
    default:
        break;
    }
    std::fprintf(stderr, "vendrik-port: не удалось снять назначение COM%d: %s\n", n,
                 VisibleText(error).toUtf8().constData());
    return ExitFailed;
}

int Udev(QStringList Args) {
    const bool install = Args.removeAll(QStringLiteral("--install")) > 0;
    if (Args.size() != 1)
        return Refuse(QStringLiteral("udev ждёт номер порта: vendrik-port udev 1 [--install]"));
    const int n = ParseComNumber(Args[0]);
    if (n == 0)
        return Refuse(QStringLiteral("номер порта должен быть от 1 до 8, а не «%1»").arg(Args[0]));
    const TUdevRule rule = UdevRuleFor(n);
    if (rule.refusal != TUdevRefusal::None)
        return Refuse(rule.why);
    if (!install) {
        // Built from checked identifiers and shown-harmless names: printed as it is.
        std::fputs(rule.text.toUtf8().constData(), stdout);
        std::fflush(stdout);
        return ExitOk;
    }
    QString error;
    if (!InstallUdevRule(rule, Out, error)) {
        std::fprintf(stderr, "vendrik-port: %s\n", VisibleText(error).toUtf8().constData());
        return ExitFailed;
    }
    return ExitOk;
}

int PortCommand(const QString& Command, const QStringList& Args) {
    if (Args.size() != 1)
        return Refuse(QStringLiteral("%1 ждёт номер порта: vendrik-port %1 1").arg(Command));
    const int n = ParseComNumber(Args[0]);
    if (n == 0)
        return Refuse(QStringLiteral("номер порта должен быть от 1 до 8, а не «%1»").arg(Args[0]));
    if (Command == u"check") {
        const TDiagnosis d = Diagnose(ProbePort(n));
        Out(d.line);
        return d.ok ? ExitOk : ExitFault;
    }
    return RunLoopback(n, Out) ? ExitOk : ExitFault;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return Refuse(QStringLiteral("не указана команда"));
    const QString command = args.takeFirst();
    if (command == u"-h" || command == u"--help" || command == u"help") {
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return ExitOk;
    }
    if (command == u"list")
        return args.isEmpty() ? List() : Refuse(QStringLiteral("list не принимает параметров"));
    if (command == u"map")
        return Map(args);
    if (command == u"unmap")
        return Unmap(args);
    if (command == u"udev")
        return Udev(args);
    if (command == u"check" || command == u"loopback")
        return PortCommand(command, args);
    return Refuse(QStringLiteral("неизвестная команда «%1»").arg(command));
}
