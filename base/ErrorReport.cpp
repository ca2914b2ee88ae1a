#include "base/ErrorReport.h"

#include "base/MessageBox.h"
#include "base/ProgramError.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString& StoredTitle() {
    static QString title;
    return title;
}
} // namespace

QString TitleFromExecutable(const QString& path) {
    QString name = path;
    const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    if (slash >= 0)
        name = name.mid(slash + 1);
    const qsizetype dot = name.indexOf('.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ApplicationTitle() {
    if (StoredTitle().isEmpty() && QCoreApplication::instance())
        return TitleFromExecutable(QCoreApplication::applicationFilePath());
    return StoredTitle();
}

void SetApplicationTitle(const QString& title) {
    StoredTitle() = title;
}

QString WithFullStop(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString ExceptionMessage(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const EProgramError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return QString();
}

void ReportException(std::exception_ptr error) {
    ShowMessageBox(WithFullStop(ExceptionMessage(error)), ApplicationTitle(), TMessageIcon::Error);
}
