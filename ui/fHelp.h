#pragma once
// The help window: a fixed text telling the operator how to write, read and compare.
// The text may be edited; edits last until the program ends.

#include "ui/ModalForm.h"

class QPlainTextEdit;

class TformHelp : public TModalForm {
    Q_OBJECT
public:
    explicit TformHelp(QWidget* owner = nullptr);
    ~TformHelp() override;

    QPlainTextEdit* Memo1;

protected:
    void showEvent(QShowEvent* event) override;
};

// The text as shipped with the window.
QString HelpText();

extern TformHelp* formHelp;
