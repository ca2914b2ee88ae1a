#include "ui/NoticeBox.h"

#include "base/MessageBox.h"

void ShowNoticeBox(const TNotice& Notice) {
    MsgIcon icon = MsgIcon::None;
    switch (Notice.icon) {
    case TNoticeIcon::None:
        break;
    case TNoticeIcon::Warning:
        icon = MsgIcon::Warning;
        break;
    case TNoticeIcon::Error:
        icon = MsgIcon::Error;
        break;
    }
    ShowMessageBox(Notice.text, Notice.caption, icon);
}
