#pragma once
// Counts the bytes in which the loaded program and the last device read differ.

#include <QString>

constexpr int CompareLimit = 129536; // 506 sectors: the most a write sends

// Differing bytes among the first min(ProgramSize, CompareLimit) of the two images.
int CountImageDifferences();

// The Compare button: one message box with the outcome.
void CompareImages();
