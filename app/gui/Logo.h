#pragma once

#include <QPixmap>

namespace klarwell {

// The logo: a record seen from above, with one click flash across its grooves. Used for the
// window's icon and the picture that opens the help.
QPixmap DrawLogo(int width, int height);

}  // namespace klarwell
