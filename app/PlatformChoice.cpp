#include "app/PlatformChoice.h"

#include <cstdio>

namespace {

// The toolkit treats a variable that is set but empty as unset; so do we.
bool Has(const QProcessEnvironment& environment, const QString& name) {
    return !environment.value(name).isEmpty();
}

bool WaylandSession(const QProcessEnvironment& environment) {
    return Has(environment, QStringLiteral("WAYLAND_DISPLAY")) ||
           environment.value(QStringLiteral("XDG_SESSION_TYPE"))
                   .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace

TPlatformChoice ChoosePlatform(const QProcessEnvironment& environment) {
    if (Has(environment, QStringLiteral("QT_QPA_PLATFORM")) || !WaylandSession(environment))
        return {};
    if (Has(environment, QStringLiteral("DISPLAY")))
        return {QByteArrayLiteral("xcb"), {}};
    // No XWayland: a Wayland client still works, only the places are the compositor's.
    return {{},
            QStringLiteral("Vendrik: в сеансе Wayland нет XWayland (DISPLAY не задан); "
                           "окна будут там, где их поместит композитор")};
}

void SelectPlatform() {
    const TPlatformChoice choice = ChoosePlatform(QProcessEnvironment::systemEnvironment());
    if (!choice.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", choice.platform);
    if (!choice.notice.isEmpty())
        std::fprintf(stderr, "%s\n", choice.notice.toLocal8Bit().constData());
}
