#pragma once

#include <cstddef>
#include <cstdint>

namespace klarwell::fuzz {

// One input of the opening target: the bytes become a file that OpenWav opens; what it accepts is
// read block by block to the end and its texts are formed. Aborts when an accepted record breaks an
// invariant (the data lies outside the file, frames beyond the data). Any thread, one call at a time.
int OpenAndReadAll(const uint8_t* data, size_t size);

// As OpenAndReadAll, with the first four bytes replaced by `magic` ("fLaC", "FORM", "RF64"), so that
// every input reaches that container's reader.
int OpenContainerAndReadAll(const uint8_t* data, size_t size, const char magic[4]);

// One input of the whole-road target: the bytes become an input file that ProcessFileParallel takes along
// its road. Aborts when a finished output is missing, does not reopen with the input's format and
// length, or when a failed road leaves an output behind. Inputs beyond 256 KiB are skipped.
int ProcessWholeRoad(const uint8_t* data, size_t size);

// One input of the stage target: the bytes become a short mono block, a candidate region with its
// detection trace and a candidate position, and the location, (in refined mode) refinement and
// repair stages run on them directly. Aborts when a located span is shorter than a click can be or
// leaves its region, when a repair changes bytes outside its span, or when its outcome misstates
// whether it changed any.
int DriveClickStages(const uint8_t* data, size_t size);

}  // namespace klarwell::fuzz
