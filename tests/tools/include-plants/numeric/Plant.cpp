// Planted for the include check's own test; never built.
#  include <qglobal.h>
// #include <QObject> is a comment, not an include
#include <vector>
