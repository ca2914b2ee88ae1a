#include "programmer/ImageCompare.h"

#include "base/MessageBox.h"
#include "programmer/ProgramImage.h"

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

void CompareImages() {
    if (!ProgramLoaded || !DeviceImageValid) {
        ShowMessageBox(QStringLiteral("Один из файлов не загружен"), QStringLiteral("Программатор"),
                       MsgIcon::Warning);
        return;
    }
    const int count = CountImageDifferences();
    if (count > 0)
        ShowMessageBox(QStringLiteral("Количество обнаруженных ошибок = %1").arg(count),
                       QStringLiteral("Ошибка"), MsgIcon::Error);
    else
        ShowMessageBox(QStringLiteral("OK"), QStringLiteral("Программатор"), MsgIcon::None);
}
