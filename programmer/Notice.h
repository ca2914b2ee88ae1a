#pragma once
// A notice for the operator: the text, caption and icon of one message box, as data.
// Device programming never shows anything itself; it hands its notices to a view, and
// the front end decides how they reach the operator (a box, a line on standard error).

#include <QString>

enum class TNoticeIcon { None, Warning, Error };

struct TNotice {
    QString text;
    QString caption;
    TNoticeIcon icon = TNoticeIcon::None;
};

inline bool operator==(const TNotice& a, const TNotice& b) {
    return a.text == b.text && a.caption == b.caption && a.icon == b.icon;
}

class TNoticeView {
public:
    virtual ~TNoticeView() = default;
    // Returns once the notice has been dealt with (a box: dismissed by the operator).
    virtual void ShowNotice(const TNotice& Notice) = 0;
};
