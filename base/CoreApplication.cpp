#include "base/CoreApplication.h"

#include "base/ErrorReport.h"

TCoreApplication::TCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

bool TCoreApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverReportingErrors([&] { return QCoreApplication::notify(receiver, event); });
}
