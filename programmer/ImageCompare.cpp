#include "programmer/ImageCompare.h"

#include "programmer/ProgramImage.h"
#include "programmer/Texts.h"

#include <algorithm>

int ComparedLength() {
    return std::min(ProgramSize, CompareLimit);
}

TImageDifferences ImageDifferencesWithin(int Length, int MaxOffsets) {
    // ProgramSize may still hold a refused file's size; the buffers end at ImageBufferSize.
    const int length = std::clamp(Length, 0, ImageBufferSize);
    TImageDifferences found;
    for (int i = 0; i < length; ++i) {
        if (ProgramImage[size_t(i)] == DeviceImage[size_t(i)])
            continue;
        if (found.count++ < MaxOffsets)
            found.firstOffsets.append(i);
    }
    return found;
}

int CountImageDifferences() {
    return ImageDifferencesWithin(ComparedLength(), 0).count;
}

int CompareImages() {
    if (!ProgramLoaded || !DeviceImageValid)
        return -1;
    return CountImageDifferences();
}

TNotice CompareNotice(int Finding) {
    if (Finding < 0)
        return NoticeImageMissing();
    return Finding > 0 ? NoticeDifferences(Finding) : NoticeImagesMatch();
}
