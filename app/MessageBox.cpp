#include "app/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

void ShowRealBox(const QString& text, const QString& caption, MsgIcon icon) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == MsgIcon::Error     ? QMessageBox::Critical
                : icon == MsgIcon::Warning ? QMessageBox::Warning
                                           : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // Centre on the monitor of the window that was active when the box was called.
    QWidget* active = QApplication::activeWindow();
    QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
    box.adjustSize();
    if (screen) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->geometry().center());
        box.move(frame.topLeft());
    }
    box.exec();
    if (active)
        active->activateWindow();
}

} // namespace

void ShowMessageBox(const QString& text, const QString& caption, MsgIcon icon) {
    if (Handler())
        Handler()(text, caption, icon);
    else
        ShowRealBox(text, caption, icon);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
