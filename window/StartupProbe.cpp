#include "window/StartupProbe.h"

#include "platform/ProcessStats.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

class TExposureProbe : public QObject {
public:
    explicit TExposureProbe(QWidget* window) : QObject(qApp), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Expose || !window_ || watched != window_->windowHandle() ||
            !window_->windowHandle()->isExposed())
            return false;
        qApp->removeEventFilter(this);
        // Queued, so that the expose handling paints and flushes the window first.
        QTimer::singleShot(0, this, [this] {
            std::printf("exposed %lld %lld %lld\n", PeakResidentKiB(), ProcessCpuMicroseconds(),
                        ThreadCpuMicroseconds());
            std::fflush(stdout);
            QCoreApplication::quit();
            deleteLater();
        });
        return false;
    }

private:
    QPointer<QWidget> window_;
};

} // namespace

void WatchFirstExposure(QWidget* window) {
    if (qEnvironmentVariableIsEmpty("STARTUP_PROBE"))
        return;
    qApp->installEventFilter(new TExposureProbe(window));
}
