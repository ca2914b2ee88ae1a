#include "tools/vendrik-port/PortDiagnosis.h"

namespace {
QString Holder(const TProcessInfo& p) {
    return QStringLiteral("%1 (pid %2)")
        .arg(p.name.isEmpty() ? QStringLiteral("?") : p.name)
        .arg(p.pid);
}

QString Holders(const QList<TProcessInfo>& list) {
    QStringList names;
    for (const TProcessInfo& p : list)
        names.append(Holder(p));
    return names.join(QStringLiteral(", "));
}

// "rw-rw----" as ls shows it.
QString ModeText(unsigned mode) {
    QString text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += (mode >> shift) & 4 ? u'r' : u'-';
        text += (mode >> shift) & 2 ? u'w' : u'-';
        text += (mode >> shift) & 1 ? u'x' : u'-';
    }
    return text;
}

QString ModemManagerFix(int Number) {
    return QStringLiteral("запретите ему трогать адаптер правилом udev (vendrik-port udev %1 "
                          "--install) или отключите его (sudo systemctl disable --now "
                          "ModemManager)")
        .arg(Number);
}

// Access through the logged-in session instead of a group: only for a USB adapter.
QString UaccessHint(const TPortFacts& f) {
    if (!f.usb)
        return {};
    return QStringLiteral(" Без группы и без нового входа: vendrik-port udev %1 --install "
                          "(правило udev откроет адаптер вошедшему пользователю).")
        .arg(f.number);
}
} // namespace

TDiagnosis Diagnose(const TPortFacts& f) {
    const QString com = QStringLiteral("COM%1").arg(f.number);
    const QString where = QStringLiteral("%1 (%2)").arg(com, f.target);
    const QString remap =
        QStringLiteral("vendrik-port list, затем vendrik-port map %1 УСТРОЙСТВО").arg(f.number);
    switch (f.outcome) {
    case TOpenOutcome::Opened:
        if (f.usb && f.modemManager.pid != 0)
            return {false, QStringLiteral("%1: порт открывается, но запущен ModemManager (pid %2), "
                                          "который опрашивает новые USB-порты и может слать в "
                                          "прибор свои команды: %3.")
                               .arg(where)
                               .arg(f.modemManager.pid)
                               .arg(ModemManagerFix(f.number))};
        return {
            true,
            QStringLiteral("%1: порт в порядке, открывается монопольно на 57600 8N1.").arg(where)};
    case TOpenOutcome::Missing:
        if (f.mapped)
            return {false, QStringLiteral("%1 указывает на %2, а такого устройства сейчас нет: "
                                          "подключите адаптер или назначьте порт заново (%3).")
                               .arg(com, f.target, remap)};
        return {false, QStringLiteral("%1 — это %2, а такого порта в системе нет: назначьте %1 "
                                      "адаптеру (%3).")
                           .arg(com, f.target, remap)};
    case TOpenOutcome::NoHardware:
        return {false, QStringLiteral("%1 — это %2, но за ним нет порта (микросхема UART не "
                                      "найдена): назначьте %1 адаптеру (%3).")
                           .arg(com, f.target, remap)};
    case TOpenOutcome::AccessDenied: {
        const QString group = f.group.isEmpty() ? QStringLiteral("?") : f.group;
        if (f.sessionInGroup)
            return {false, QStringLiteral("%1: нет прав на открытие, хотя вы (%2) в группе %3: у "
                                          "группы нет прав на чтение и запись (%4); права "
                                          "устройству выдаёт правило udev, спросите "
                                          "администратора.%5")
                               .arg(where, f.user, group, ModeText(f.mode), UaccessHint(f))};
        if (f.accountInGroup)
            return {false, QStringLiteral("%1: нет прав на открытие; устройство принадлежит группе "
                                          "%2, вы (%3) в неё уже добавлены, но этот сеанс начат "
                                          "раньше: выйдите из системы и войдите снова.%4")
                               .arg(where, group, f.user, UaccessHint(f))};
        return {false, QStringLiteral("%1: нет прав на открытие; устройство принадлежит группе %2, "
                                      "а вы (%3) в неё не входите: выполните sudo adduser %3 %2 "
                                      "и войдите в систему заново.%4")
                           .arg(where, group, f.user, UaccessHint(f))};
    }
    case TOpenOutcome::HeldElsewhere:
    case TOpenOutcome::Busy:
        if (f.holders.size() == 1 && f.holders.first().name == u"ModemManager")
            return {false,
                    QStringLiteral("%1: порт занят ModemManager (pid %2), который опрашивает "
                                   "USB-порты: подождите полминуты и повторите или %3.")
                        .arg(where)
                        .arg(f.holders.first().pid)
                        .arg(ModemManagerFix(f.number))};
        if (f.outcome == TOpenOutcome::HeldElsewhere)
            return {false, QStringLiteral("%1: порт держит открытым другая программа: %2; "
                                          "проверка его не открывала, чтобы ничего ей не "
                                          "сбить. Закройте эту программу (или завершите её: "
                                          "kill %3) и повторите.")
                               .arg(where, Holders(f.holders))
                               .arg(f.holders.first().pid)};
        if (!f.holders.isEmpty())
            return {false, QStringLiteral("%1: порт занят: его держит %2; закройте эту программу "
                                          "(или завершите её: kill %3).")
                               .arg(where, Holders(f.holders))
                               .arg(f.holders.first().pid)};
        if (!f.allProcessesVisible)
            return {false,
                    QStringLiteral("%1: порт занят другой программой; какой — видно только с "
                                   "правами root: sudo fuser -v %2.")
                        .arg(where, f.target)};
        return {false, QStringLiteral("%1: порт занят, но держащая его программа не найдена: "
                                      "закройте программы, работающие с портом, или "
                                      "переподключите адаптер.")
                           .arg(where)};
    case TOpenOutcome::NotATerminal:
        return {false, QStringLiteral("%1 указывает на %2, но это не последовательный порт: "
                                      "назначьте порт заново (%3).")
                           .arg(com, f.target, remap)};
    case TOpenOutcome::SettingsRefused:
        return {false, QStringLiteral("%1: порт открылся, но не принял настройки 57600 8N1 (%2): "
                                      "неисправен адаптер или его драйвер.")
                           .arg(where, f.errorText)};
    case TOpenOutcome::OtherError:
        break;
    }
    return {false, QStringLiteral("%1: порт не открывается: %2 (код %3).")
                       .arg(where, f.errorText)
                       .arg(f.error)};
}
