#pragma once
// How far two renderings of a window lie apart. Text is drawn with anti-aliasing, so a
// new version of a font or of its rasteriser moves many edge pixels a little and few
// pixels far; a moved control or a changed caption moves a block of pixels far.

#include <QImage>
#include <QRect>

struct TPictureDiff {
    QSize size;           // of the first picture
    QSize otherSize;      // of the second
    qint64 differing = 0; // pixels with a channel further apart than the threshold
    int largest = 0;      // the largest channel difference, 0..255
    QRect where;          // the bounding box of the differing pixels

    bool SameSize() const { return size == otherSize; }
    double Fraction() const;
};

// Compares the pictures pixel by pixel (red, green, blue and alpha, as 8-bit channels).
// Pictures of different sizes are not compared further.
TPictureDiff ComparePictures(const QImage& a, const QImage& b, int channelThreshold);

// The same size, and at most `allowedFraction` of the pixels differing.
bool PicturesMatch(const TPictureDiff& diff, double allowedFraction);
