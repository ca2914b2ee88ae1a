#include "ui/NoticeBox.h"

#include "base/MessageBox.h"

void ShowNoticeBox(const TNotice& Notice) {
    TMessageIcon icon = TMessageIcon::None;
    switch (Notice.icon) {
    case TNoticeIcon::None:
        break;
    case TNoticeIcon::Warning:
        icon = TMessageIcon::Warning;
        break;
    case TNoticeIcon::Error:
        icon = TMessageIcon::Error;
        break;
    }
    ShowMessageBox(Notice.text, Notice.caption, icon);
}
