// Planted for the include check's own test; never built.
#pragma once
#include "chart/Graphic.h"
#include "../playback/Player.h"
#include "audio/WavFile.h"
