#include "app/RealMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

void ShowRealMessageBox(const QString& text, const QString& caption, MsgIcon icon) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == MsgIcon::Error     ? QMessageBox::Critical
                : icon == MsgIcon::Warning ? QMessageBox::Warning
                                           : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
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
