#pragma once
// A top-level window with the event hooks the rest of the program chains into: show
// (before the window is displayed), close query, close and destroy. Components such
// as the stored-settings one replace a hook and call the one they replaced.

#include "base/Events.h"

#include <QWidget>

class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    TNotifyEvent OnShow;
    TCloseQueryEvent OnCloseQuery;
    TNotifyEvent OnClose;
    TNotifyEvent OnDestroy;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Derived windows call this first in their destructor, while every component
    // still exists.
    void FireDestroy();

private:
    bool destroyFired_ = false;
};
