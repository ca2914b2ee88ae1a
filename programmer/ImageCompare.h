#pragma once
// Counts the bytes in which the loaded program and the last device read differ.

#include "programmer/Notice.h"

#include <QList>
#include <QString>

constexpr int CompareLimit = 129536; // 506 sectors: the most a write sends

// Bytes the Compare button compares: min(ProgramSize, CompareLimit).
int ComparedLength();

struct TImageDifferences {
    int count = 0;
    QList<int> firstOffsets; // ascending, at most the number asked for
};
// Differing bytes among the first Length bytes of the two images.
TImageDifferences ImageDifferencesWithin(int Length, int MaxOffsets);

// Differing bytes among the first ComparedLength() of the two images.
int CountImageDifferences();

// What the Compare button found: no program or no valid device image (-1), or the
// number of differing bytes.
int CompareImages();
// The one message box of the Compare button for that finding.
TNotice CompareNotice(int Finding);
