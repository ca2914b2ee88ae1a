#include "base/MessageBox.h"

#include <QDebug>

namespace {

MessageBoxHandler& Installed() {
    static MessageBoxHandler box;
    return box;
}

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

void WriteMessageBoxToLog(const QString& text, const QString& caption, TMessageIcon icon) {
    const QString line = caption.isEmpty() ? text : caption + QStringLiteral(": ") + text;
    switch (icon) {
    case TMessageIcon::Error:
        qCritical().noquote() << line;
        break;
    case TMessageIcon::Warning:
        qWarning().noquote() << line;
        break;
    case TMessageIcon::None:
        qInfo().noquote() << line;
        break;
    }
}

void ShowMessageBox(const QString& text, const QString& caption, TMessageIcon icon) {
    if (Handler())
        Handler()(text, caption, icon);
    else if (Installed())
        Installed()(text, caption, icon);
    else
        WriteMessageBoxToLog(text, caption, icon);
}

MessageBoxHandler InstallMessageBox(MessageBoxHandler box) {
    MessageBoxHandler previous = std::move(Installed());
    Installed() = std::move(box);
    return previous;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
