#pragma once

#include <QPixmap>

namespace klarwell {

// The look of a transport glyph: normal, greyed for a disabled button, coloured.
enum class TGlyphVariant { Enabled, Disabled, Colored };

// The transport glyph named `glyphName` ("MPPLAY", "MPPAUSE", "MPSTOP", "MPNEXT", "MPPREV",
// "MPSTEP", "MPBACK", "MPRECORD", "MPEJECT", "MPHELP") in one variant, drawn in code on a
// transparent background, 13..21 by 13..16 pixels. A null pixmap for an unknown name. GUI thread.
QPixmap MakePlayerGlyph(const char* glyphName, TGlyphVariant variant);

}  // namespace klarwell
