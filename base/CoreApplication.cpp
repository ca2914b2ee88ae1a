#include "base/CoreApplication.h"

#include "base/ErrorReport.h"

TCoreApplication::TCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

bool TCoreApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
