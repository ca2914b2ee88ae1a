#include "tools/render_windows/PictureDiff.h"

#include <algorithm>
#include <cstdlib>

double TPictureDiff::Fraction() const {
    const qint64 pixels = qint64(size.width()) * size.height();
    return pixels == 0 ? 0 : double(differing) / double(pixels);
}

TPictureDiff ComparePictures(const QImage& a, const QImage& b, int channelThreshold) {
    TPictureDiff diff;
    diff.size = a.size();
    diff.otherSize = b.size();
    if (!diff.SameSize())
        return diff;
    // One format for both: a PNG read back may come as RGB32 where the grab was ARGB32.
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d = std::max({std::abs(qRed(p[col]) - qRed(q[col])),
                                    std::abs(qGreen(p[col]) - qGreen(q[col])),
                                    std::abs(qBlue(p[col]) - qBlue(q[col])),
                                    std::abs(qAlpha(p[col]) - qAlpha(q[col]))});
            diff.largest = std::max(diff.largest, d);
            if (d > channelThreshold) {
                ++diff.differing;
                diff.where |= QRect(col, row, 1, 1);
            }
        }
    }
    return diff;
}

bool PicturesMatch(const TPictureDiff& diff, double allowedFraction) {
    return diff.SameSize() && diff.Fraction() <= allowedFraction;
}
