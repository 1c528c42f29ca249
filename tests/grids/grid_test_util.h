// Helpers for the widget tests: tables made from text, and looking at painted pixels.
#pragma once

#include <QImage>
#include <QRect>
#include <memory>
#include <string>

#include "csv/csv.h"

namespace qm::test {

inline std::unique_ptr<TCsv> MakeCsv(std::u16string text) {
    auto csv = std::make_unique<TCsv>();
    csv->Parse(std::move(text));
    return csv;
}

// Whether any pixel inside area differs from the colour of its top-left pixel: some text or
// line is painted there.
inline bool HasInk(const QImage& image, const QRect& area) {
    const QRect clipped = area.intersected(image.rect());
    if (clipped.isEmpty()) return false;
    const QRgb background = image.pixel(clipped.topLeft());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (image.pixel(x, y) != background) return true;
    return false;
}

}  // namespace qm::test
