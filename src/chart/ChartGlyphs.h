#pragma once

#include <QIcon>

// The small pictures on the chart's toolbar buttons, drawn rather than loaded from files.
namespace ChartGlyphs {

enum class Glyph { New, Save, First, Previous, Next, Last, Enlarge, Restore };

QIcon icon(Glyph glyph);

}  // namespace ChartGlyphs
