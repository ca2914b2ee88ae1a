#include "ui/AppStyle.h"

#include <QApplication>

QFont WindowFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

int TVendrikStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay)
        return 500;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void InstallVendrikStyle() {
    if (!qobject_cast<TVendrikStyle*>(QApplication::style()))
        QApplication::setStyle(new TVendrikStyle(QApplication::style()->name()));
}
