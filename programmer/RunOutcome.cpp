#include "programmer/RunOutcome.h"

QString RunEndName(TRunEnd End) {
    switch (End) {
    case TRunEnd::Done:
        return QStringLiteral("done");
    case TRunEnd::SectorFailed:
        return QStringLiteral("sector-failed");
    case TRunEnd::Stopped:
        return QStringLiteral("stopped");
    case TRunEnd::LinkError:
        return QStringLiteral("link-error");
    case TRunEnd::PortNotOpened:
        return QStringLiteral("port-not-opened");
    case TRunEnd::NoAnnouncement:
        return QStringLiteral("no-announcement");
    case TRunEnd::NoProgram:
        return QStringLiteral("no-program");
    }
    return {};
}
