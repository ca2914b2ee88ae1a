#pragma once
// The windows show device programming's notices as the program's message box.

#include "programmer/Notice.h"

void ShowNoticeBox(const TNotice& Notice);
