// Planted for the include check's own test; never built. The window may use Qt.
#include <QWidget>
#include "chart/Graphic.h"
