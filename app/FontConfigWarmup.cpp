#include "app/FontConfigWarmup.h"

#include <fontconfig/fontconfig.h>

TFontConfigWarmup::TFontConfigWarmup() : thread_([] { FcInit(); }) {}

TFontConfigWarmup::~TFontConfigWarmup() {
    Wait();
}

void TFontConfigWarmup::Wait() {
    if (thread_.joinable())
        thread_.join();
}
