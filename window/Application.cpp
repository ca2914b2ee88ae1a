#include "window/Application.h"

#include "base/ErrorReport.h"
#include "window/RealMessageBox.h"

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), previousBox_(InstallMessageBox(ShowRealMessageBox)) {}

// No box may be built once the toolkit is gone.
TApplication::~TApplication() {
    InstallMessageBox(std::move(previousBox_));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverReportingErrors([&] { return QApplication::notify(receiver, event); });
}
