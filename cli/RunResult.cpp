#include "cli/RunResult.h"

#include "cli/Arguments.h"
#include "platform/SerialNames.h"
#include "platform/VisibleText.h"

#include <QJsonArray>
#include <array>

namespace {

struct TOutcome {
    TExitCode code;
    const char* name;
    const char* text;    // short, for the gang's table
    const char* meaning; // for --help and the manual page; none for a code never returned
};

constexpr std::array<TOutcome, 10> Outcomes{{
    {ExitKilled, "killed", "завершён сигналом", nullptr},
    {ExitDone, "done", "готово", "сделано (compare: различий нет)"},
    {ExitGangFailed, "gang-failed", "не все приборы готовы",
     "несколько портов: хотя бы один прибор не готов (подробности в таблице)"},
    {ExitBadArguments, "bad-arguments", "неверные параметры", "неверные параметры"},
    {ExitFileError, "file-error", "ошибка файла",
     "ошибка файла: программа не читается, пуста или больше 131072 байт, образ не "
     "сохраняется, файл --trace не создаётся"},
    {ExitPortError, "port-error", "порт не открылся",
     "порт не открылся (нет устройства, занят другой программой, нет прав) или линия "
     "оборвалась, пока программа ждала прибор"},
    {ExitNoAnnouncement, "no-announcement", "прибор не ответил",
     "прибор не включился за время --wait"},
    {ExitTransferFailed, "transfer-failed", "ошибка передачи",
     "ошибка передачи: сектор не прошёл и со второй попытки, или линия оборвалась"},
    {ExitDiffers, "differs", "расхождение", "прибор отличается от файла (--verify или compare)"},
    {ExitInterrupted, "interrupted", "прервано",
     "прервано (Ctrl+C, SIGTERM, SIGHUP); у нескольких портов — если запрос остановил хотя "
     "бы один прибор"},
}};

} // namespace

QString OutcomeName(TExitCode Code) {
    for (const TOutcome& o : Outcomes)
        if (o.code == Code)
            return QString::fromLatin1(o.name);
    return QStringLiteral("transfer-failed");
}

TExitCode OutcomeFromName(const QString& Name) {
    for (const TOutcome& o : Outcomes)
        if (Name == QLatin1String(o.name))
            return o.code;
    return ExitTransferFailed;
}

QString OutcomeText(TExitCode Code) {
    for (const TOutcome& o : Outcomes)
        if (o.code == Code)
            return QString::fromUtf8(o.text);
    return QString::number(int(Code));
}

TExitCodeMeanings ExitCodeMeanings() {
    TExitCodeMeanings codes;
    for (const TOutcome& o : Outcomes)
        if (o.meaning)
            codes.append({int(o.code), QString::fromUtf8(o.meaning)});
    return codes;
}

QString PortLabel(const TRunResult& r) {
    const QString device = VisibleText(r.device.isEmpty() ? r.port : r.device);
    const int com = ParseComNumber(r.port);
    return com ? QStringLiteral("COM%1 (%2)").arg(com).arg(device) : device;
}

QJsonObject ToJson(const TRunResult& r) {
    QJsonArray offsets;
    for (int offset : r.firstDifferences)
        offsets.append(offset);
    QJsonObject timings{{"waitMs", r.waitMs},
                        {"transferMs", r.transferMs},
                        {"verifyMs", r.verifyMs},
                        {"totalMs", r.totalMs}};
    return QJsonObject{{"command", r.command},
                       {"port", r.port},
                       {"device", r.device},
                       {"file", r.file},
                       {"outcome", OutcomeName(r.code)},
                       {"exitCode", int(r.code)},
                       {"sectorsDone", r.sectorsDone},
                       {"sectorsTotal", r.sectorsTotal},
                       {"retries", r.retries},
                       {"timings", timings},
                       {"bytesNotSent", r.bytesNotSent},
                       {"comparedBytes", r.comparedBytes},
                       {"differingBytes", r.differingBytes},
                       {"firstDifferences", offsets},
                       {"messages", QJsonArray::fromStringList(r.messages)}};
}

TRunResult FromJson(const QJsonObject& o) {
    TRunResult r;
    r.command = o["command"].toString();
    r.port = o["port"].toString();
    r.device = o["device"].toString();
    r.file = o["file"].toString();
    r.code = OutcomeFromName(o["outcome"].toString());
    r.sectorsDone = o["sectorsDone"].toInt();
    r.sectorsTotal = o["sectorsTotal"].toInt();
    r.retries = o["retries"].toInt();
    const QJsonObject t = o["timings"].toObject();
    r.waitMs = t["waitMs"].toInteger(-1);
    r.transferMs = t["transferMs"].toInteger(-1);
    r.verifyMs = t["verifyMs"].toInteger(-1);
    r.totalMs = t["totalMs"].toInteger(0);
    r.bytesNotSent = o["bytesNotSent"].toInt(0);
    r.comparedBytes = o["comparedBytes"].toInt(-1);
    r.differingBytes = o["differingBytes"].toInt(-1);
    for (const QJsonValue& v : o["firstDifferences"].toArray())
        r.firstDifferences.append(v.toInt());
    for (const QJsonValue& v : o["messages"].toArray())
        r.messages.append(v.toString());
    return r;
}
