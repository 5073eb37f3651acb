// Planted for the include check's own test; never built.
#pragma once
#include "app/gui/MainTexts.h"
