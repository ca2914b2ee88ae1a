#pragma once
// The look shared by every window: the face standing in for an 8-point "MS Sans Serif"
// and the tool-tip timing.

#include <QFont>
#include <QProxyStyle>

// Liberation Sans at the given pixel height.
QFont WindowFont(int pixelSize = 11, bool bold = false);

// Tool tips appear after the pointer rested 500 ms on a control.
class TVendrikStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// How long a tool tip stays up.
constexpr int ToolTipDurationMs = 2500;

// Installs TVendrikStyle over the application's current style.
void InstallVendrikStyle();
