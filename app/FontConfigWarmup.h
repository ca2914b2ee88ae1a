#pragma once
// Reads the system's font configuration on a thread of its own. Parsing it is the
// largest single cost before the first text can be measured; started first thing, it
// runs while the toolkit connects to the display.

#include <thread>

class TFontConfigWarmup {
public:
    TFontConfigWarmup();
    ~TFontConfigWarmup();
    TFontConfigWarmup(const TFontConfigWarmup&) = delete;
    TFontConfigWarmup& operator=(const TFontConfigWarmup&) = delete;

    // Returns once the configuration is read. Call it before the toolkit first looks
    // for a font: a second reader would not wait for this one but read it all again.
    void Wait();

private:
    std::thread thread_;
};
