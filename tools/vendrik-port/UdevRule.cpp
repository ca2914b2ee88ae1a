#include "tools/vendrik-port/UdevRule.h"

#include "platform/AtomicFile.h"
#include "platform/DeviceAccess.h"
#include "platform/VisibleText.h"
#include "tools/vendrik-port/ComMappings.h"
#include "tools/vendrik-port/PortRoots.h"
#include "tools/vendrik-port/SerialInventory.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
// By name, as the node is a /dev path (made-up trees link their devices to real
// pseudo-terminals).
bool IsPseudoTerminal(const QString& Node) {
    const QFileInfo node(Node);
    return QFileInfo(node.path()).fileName() == u"pts" || node.fileName() == u"ptmx";
}

// udev compares with shell-style patterns inside double quotes, with no escapes: only
// plain characters compare exactly.
bool MatchesExactly(const QString& Value) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9 ._:,=+/@#%~-]+$"));
    return plain.match(Value).hasMatch();
}

bool IsUsbId(const QString& Id) {
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    return hex.match(Id).hasMatch();
}

TUdevRule Refused(TUdevRule Rule, TUdevRefusal Refusal, const QString& Why) {
    Rule.refusal = Refusal;
    Rule.why = Why;
    return Rule;
}

// Runs Program (through sudo unless root) with the terminal attached, for sudo's
// password prompt.
bool RunAsRoot(const QString& Program, const QStringList& Args, QString& Error) {
    QString program = Program;
    QStringList args = Args;
    if (CurrentUid() != 0) {
        args.prepend(program);
        program = QStringLiteral("sudo");
    }
    const QString path = QStandardPaths::findExecutable(program);
    const QString shown = QStringList{program, args.join(u' ')}.join(u' ');
    if (path.isEmpty()) {
        Error = QStringLiteral("не найдена программа %1 (нужно для: %2)").arg(program, shown);
        return false;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.setInputChannelMode(QProcess::ForwardedInputChannel);
    p.start(path, args);
    if (!p.waitForStarted(-1) || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        Error = QStringLiteral("не удалось выполнить: %1").arg(shown);
        return false;
    }
    return true;
}
} // namespace

TUdevRule UdevRuleFor(int Number) {
    const TComMapping mapping = ComMapping(Number);
    TUdevRule rule;
    rule.target = mapping.target;
    const QString com = QStringLiteral("COM%1").arg(Number);
    const QString where = QStringLiteral("%1 (%2)").arg(com, mapping.target);
    if (!mapping.present)
        return Refused(rule, TUdevRefusal::Missing,
                       QStringLiteral("%1: устройства нет; подключите адаптер и назначьте его "
                                      "порту (vendrik-port list, затем vendrik-port map %2 "
                                      "УСТРОЙСТВО)")
                           .arg(where)
                           .arg(Number));
    if (IsPseudoTerminal(mapping.node))
        return Refused(rule, TUdevRefusal::PseudoTerminal,
                       QStringLiteral("%1 — псевдотерминал: за ним нет адаптера, правило udev "
                                      "к нему неприменимо (его открывает владелец и так)")
                           .arg(where));
    TSerialPort port;
    rule.kernel = QFileInfo(mapping.node).fileName();
    const TTtyKind kind = TtyKindOf(rule.kernel, &port);
    if (kind == TTtyKind::NoHardware || (kind == TTtyKind::Serial && !port.usb))
        return Refused(rule, TUdevRefusal::BuiltIn,
                       QStringLiteral("%1 — встроенный порт, а не USB-адаптер: правило по "
                                      "изготовителю и серийному номеру к нему неприменимо; "
                                      "доступ к нему даёт группа dialout (sudo adduser %2 "
                                      "dialout, затем войти заново)")
                           .arg(where, CurrentUserName()));
    if (kind != TTtyKind::Serial)
        return Refused(
            rule, TUdevRefusal::NotSerial,
            QStringLiteral("%1 — не последовательный порт (список: vendrik-port list)").arg(where));
    if (!IsUsbId(port.vendorId) || !IsUsbId(port.productId))
        return Refused(rule, TUdevRefusal::NoIdentity,
                       QStringLiteral("%1: система не сообщает код изготовителя и изделия "
                                      "адаптера, правило не к чему привязать")
                           .arg(where));
    if (!port.serial.isEmpty() && !MatchesExactly(port.serial))
        return Refused(rule, TUdevRefusal::UnsafeIdentity,
                       QStringLiteral("%1: в серийном номере адаптера «%2» есть знаки, которые "
                                      "udev не сравнит точно; правило не составлено")
                           .arg(where, port.serial));

    rule.fileName = QStringLiteral("70-vendrik-com%1.rules").arg(Number);
    const QString product =
        VisibleText(QStringList{port.manufacturer, port.product}.join(u' ').trimmed());
    QString text = QStringLiteral("# vendrik-port udev %1: %2 — %3 (%4:%5)")
                       .arg(QString::number(Number), com, product, port.vendorId, port.productId);
    text += port.serial.isEmpty() ? QStringLiteral(", без серийного номера\n")
                                  : QStringLiteral(", серийный номер %1\n").arg(port.serial);
    if (port.serial.isEmpty())
        text += QStringLiteral("# У адаптера нет серийного номера: правило подходит каждому "
                               "адаптеру %1:%2.\n")
                    .arg(port.vendorId, port.productId);
    // Numbered below 73, where udev hands the uaccess tag on to the logged-in user, and
    // below ModemManager's own rules (77-80), which read ID_MM_DEVICE_IGNORE.
    text += QStringLiteral("# uaccess: открыть порт может вошедший в систему пользователь, без "
                           "группы dialout;\n# ID_MM_DEVICE_IGNORE: ModemManager адаптер не "
                           "опрашивает.\n");
    text += QStringLiteral("SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\"")
                .arg(port.vendorId.toLower(), port.productId.toLower());
    if (!port.serial.isEmpty())
        text += QStringLiteral(", ATTRS{serial}==\"%1\"").arg(port.serial);
    text += QStringLiteral(", TAG+=\"uaccess\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    rule.text = text;
    return rule;
}

bool InstallUdevRule(const TUdevRule& Rule, const std::function<void(const QString&)>& Print,
                     QString& Error) {
    const QString path = UdevRulesDir() + u'/' + Rule.fileName;
    const QByteArray bytes = Rule.text.toUtf8();
    if (CurrentUid() == 0) {
        QDir().mkpath(UdevRulesDir());
        TReplacePolicy policy = DocumentReplace;
        policy.mode = 0644;
        if (!ReplaceAtomically(path, bytes.constData(), bytes.size(), policy)) {
            Error = QStringLiteral("не удалось записать %1").arg(path);
            return false;
        }
    } else {
        QTemporaryFile temporary;
        if (!temporary.open() || temporary.write(bytes) != bytes.size() || !temporary.flush()) {
            Error = QStringLiteral("не удалось записать временный файл правила");
            return false;
        }
        Print(QStringLiteral("Нужны права root: правило запишет sudo."));
        if (!RunAsRoot(QStringLiteral("install"),
                       {QStringLiteral("-m"), QStringLiteral("0644"), temporary.fileName(), path},
                       Error))
            return false;
    }
    Print(QStringLiteral("Правило записано: %1").arg(path));
    if (!RunAsRoot(QStringLiteral("udevadm"),
                   {QStringLiteral("control"), QStringLiteral("--reload")}, Error) ||
        !RunAsRoot(QStringLiteral("udevadm"),
                   {QStringLiteral("trigger"), QStringLiteral("--action=change"),
                    QStringLiteral("--subsystem-match=tty"),
                    QStringLiteral("--sysname-match=") + Rule.kernel},
                   Error))
        return false;
    Print(QStringLiteral("udev перечитал правила и применил их к %1; если доступа всё нет, "
                         "переподключите адаптер.")
              .arg(Rule.kernel));
    return true;
}
