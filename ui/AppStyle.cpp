#include "ui/AppStyle.h"

#include "ui/Pictures.h"

#include <QApplication>
#include <QGroupBox>
#include <QPixmapCache>
#include <QStyleOption>
#include <qdrawutil.h>

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

void TVendrikStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // This toolkit's Fusion draws a titled group box's frame from a picture it loads by
    // file name, and so loads every image-format plug-in at the first group box painted.
    // The same picture in the same place, read as PNG outright.
    const auto* box = qobject_cast<const QGroupBox*>(widget);
    const bool titled = !box || box->isCheckable() || !box->title().isEmpty();
    if (element == PE_FrameGroupBox && titled &&
        baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0) {
        const QString key = QStringLiteral("vendrik_fusion_groupbox");
        QPixmap frame;
        if (!QPixmapCache::find(key, &frame)) {
            frame = PngPicture(
                QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"));
            QPixmapCache::insert(key, frame);
        }
        if (!frame.isNull()) {
            const int top = qMax(baseStyle()->pixelMetric(PM_ExclusiveIndicatorHeight),
                                 option->fontMetrics.height()) +
                            3; // Fusion's space above a group box's frame
            qDrawBorderPixmap(painter, option->rect.adjusted(0, top, 0, 0), QMargins(6, 6, 6, 6),
                              frame);
            return;
        }
    }
#endif
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
