#include "comm/VaSettings.h"

void TVaPersistent::EndChange() {
    if (UpdateCount > 0)
        --UpdateCount;
    NotifyChanged();
}

void TVaPersistent::NotifyChanged() {
    if (UpdateCount == 0 && ChangeHandler)
        ChangeHandler();
}

namespace {
// Brackets a copy so the owner hears of it once, also when a setter raises.
struct ChangeBracket {
    explicit ChangeBracket(TVaPersistent& p) : p(p) { p.BeginChange(); }
    ~ChangeBracket() noexcept(false) { p.EndChange(); }
    TVaPersistent& p;
};
} // namespace

void TVaBuffers::SetNotifying(std::atomic<int>& field, int v) {
    v = Clamp(v);
    if (field != v) {
        field = v;
        NotifyChanged();
    }
}

void TVaBuffers::Assign(const TVaBuffers& Source) {
    if (&Source == this)
        return;
    ChangeBracket bracket(*this);
    readSize_ = Source.readSize_.load();
    readTimeout_ = Source.readTimeout_.load();
    writeSize_ = Source.writeSize_.load();
    writeTimeout_ = Source.writeTimeout_.load();
    xonLimit_ = Source.xonLimit_.load();
    xoffLimit_ = Source.xoffLimit_.load();
}

void TVaFlowControl::Assign(const TVaFlowControl& Source) {
    if (&Source == this)
        return;
    ChangeBracket bracket(*this);
    SetOutCtsFlow(Source.OutCtsFlow());
    SetOutDsrFlow(Source.OutDsrFlow());
    SetControlDtr(Source.ControlDtr());
    SetControlRts(Source.ControlRts());
    SetXonXoffOut(Source.XonXoffOut());
    SetXonXoffIn(Source.XonXoffIn());
    SetDsrSensitivity(Source.DsrSensitivity());
    SetTxContinueOnXoff(Source.TxContinueOnXoff());
}

char TVaEventChars::GetChar(int Index) const {
    return Index >= 1 && Index <= 5 ? chars_[Index - 1] : '\0';
}

void TVaEventChars::SetChar(int Index, char Value) {
    if (Index < 1 || Index > 5)
        return;
    chars_[Index - 1] = Value;
    NotifyChanged();
}

void TVaEventChars::Assign(const TVaEventChars& Source) {
    if (&Source == this)
        return;
    ChangeBracket bracket(*this);
    for (int i = 1; i <= 5; ++i)
        SetChar(i, Source.GetChar(i));
}
