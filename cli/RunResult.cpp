#include "cli/RunResult.h"

#include "cli/Arguments.h"
#include "platform/VisibleText.h"

#include <QJsonArray>
#include <array>

namespace {

struct TOutcome {
    TExitCode code;
    const char* name;
    const char* text;
};

constexpr std::array<TOutcome, 10> Outcomes{{
    {ExitKilled, "killed", "завершён сигналом"},
    {ExitDone, "done", "готово"},
    {ExitGangFailed, "gang-failed", "не все приборы готовы"},
    {ExitBadArguments, "bad-arguments", "неверные параметры"},
    {ExitFileError, "file-error", "ошибка файла"},
    {ExitPortError, "port-error", "порт не открылся"},
    {ExitNoAnnouncement, "no-announcement", "прибор не ответил"},
    {ExitTransferFailed, "transfer-failed", "ошибка передачи"},
    {ExitDiffers, "differs", "расхождение"},
    {ExitInterrupted, "interrupted", "прервано"},
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

QString PortLabel(const TRunResult& r) {
    const QString device = VisibleText(r.device.isEmpty() ? r.port : r.device);
    const int com = ComNumber(r.port);
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
