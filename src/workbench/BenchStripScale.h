#pragma once

#include <QString>

#include "BenchStripPoints.h"

// The vertical scale of one strip: the values it shows fill it, with a little room above and
// below; a steady value sits in the middle of a narrow band around it instead of on an edge.
struct BenchStripScale {
    double low = 0;
    double high = 1;

    static BenchStripScale fit(const BenchStripPoints::Range& values);

    // where v lies between low (0) and high (1)
    double fraction(double v) const { return (v - low) / (high - low); }

    // v in the unit with an SI prefix and as many digits as the scale's height needs to tell
    // its top from its bottom ("12.02 V", "498 mA")
    QString label(double v, const QString& unit) const;
};
