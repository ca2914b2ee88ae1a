#include "tools/simdevice/SimFaults.h"

#include <QStringList>
#include <array>

namespace sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr std::array<KindName, 10> kKindNames{{
    {FaultKind::NoReply, "noreply"},
    {FaultKind::Late, "late"},
    {FaultKind::WrongAck, "wrongack"},
    {FaultKind::BadChecksum, "badsum"},
    {FaultKind::Short, "short"},
    {FaultKind::Long, "long"},
    {FaultKind::Noise, "noise"},
    {FaultKind::HangUp, "hangup"},
    {FaultKind::BadCell, "badcell"},
    {FaultKind::Trail, "trail"},
}};

} // namespace

QString FaultKindName(FaultKind kind) {
    for (const auto& k : kKindNames)
        if (k.kind == kind)
            return QString::fromLatin1(k.name);
    return {};
}

std::optional<FaultRule> ParseFaultRule(const QString& text, QString* error) {
    const QStringList parts = text.split(u':');
    auto fail = [&](const QString& why) -> std::optional<FaultRule> {
        if (error)
            *error = QStringLiteral("bad fault \"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    if (parts.size() < 3 || parts.size() > 5)
        return fail(QStringLiteral("expected OP:SECTOR:KIND[:TIMES[:PARAM]]"));
    FaultRule rule;
    const QString op = parts[0].toUpper();
    if (op == u"W")
        rule.op = WriteOp;
    else if (op == u"R")
        rule.op = ReadOp;
    else if (op != u"*")
        return fail(QStringLiteral("OP must be W, R or *"));
    if (parts[1] != u"*") {
        bool ok = false;
        rule.sector = parts[1].toInt(&ok);
        if (!ok || rule.sector < 0 || rule.sector > 0xFFFF)
            return fail(QStringLiteral("SECTOR must be 0 to 65535 or *"));
    }
    bool known = false;
    for (const auto& k : kKindNames) {
        if (parts[2].compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0) {
            rule.kind = k.kind;
            known = true;
        }
    }
    if (!known)
        return fail(QStringLiteral("unknown KIND"));
    if (parts.size() > 3) {
        bool ok = false;
        rule.times = parts[3].toInt(&ok);
        if (!ok || rule.times < -1)
            return fail(QStringLiteral("TIMES must be -1 or more"));
    }
    if (parts.size() > 4) {
        bool ok = false;
        rule.param = parts[4].toInt(&ok);
        if (!ok || rule.param < 0)
            return fail(QStringLiteral("PARAM must be 0 or more"));
    }
    return rule;
}

std::optional<Fault> FaultPlan::take(char op, int sector) {
    for (FaultRule& rule : rules) {
        if (rule.times == 0)
            continue;
        if (rule.op != 0 && rule.op != op)
            continue;
        if (rule.sector >= 0 && rule.sector != sector)
            continue;
        if (rule.times > 0)
            --rule.times;
        return Fault{rule.kind, rule.param};
    }
    if (randomRate <= 0)
        return std::nullopt;
    if (!seeded_) {
        rng_.seed(seed);
        seeded_ = true;
    }
    if (std::uniform_real_distribution<double>(0, 1)(rng_) >= randomRate)
        return std::nullopt;
    // Hanging up is left out: a random run should keep going to show the retries.
    static constexpr std::array<FaultKind, 3> writeKinds{FaultKind::NoReply, FaultKind::Late,
                                                         FaultKind::WrongAck};
    static constexpr std::array<FaultKind, 6> readKinds{FaultKind::NoReply,     FaultKind::Late,
                                                        FaultKind::BadChecksum, FaultKind::Short,
                                                        FaultKind::Long,        FaultKind::Noise};
    if (op == WriteOp)
        return Fault{writeKinds[std::uniform_int_distribution<size_t>(0, 2)(rng_)], 0};
    return Fault{readKinds[std::uniform_int_distribution<size_t>(0, 5)(rng_)], 0};
}

} // namespace sim
