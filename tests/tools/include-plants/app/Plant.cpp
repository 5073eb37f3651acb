// Planted for the include check's own test; never built.
#include "app/gui/MainLight.h"
#include "cli/Json.h"
#include "app/BatchDriver.h"
