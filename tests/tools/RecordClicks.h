#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/SignalGen.h"

namespace klarwell::test {

// Surface noise as a record player produces it, for the quality bench: ticks, crackle and a scratch
// that comes round once a revolution, each made as the groove makes it. A defect moves the stylus
// for as long as the particle takes to pass (its size over the groove speed), the cartridge turns
// that velocity into voltage, and the replay equalisation and the stylus' own resonance shape what
// reaches the file. So the shapes, the tails and the swing-back come out of the chain, not out of a
// table of shapes.

// How worn a side is: the rates and levels its noise is drawn from (levels in 16-bit units).
struct TWear {
  double TicksPerSecond = 0;  // ticks of every width, heavy-tailed in width and level
  double TickLevel = 0;       // median peak of a tick
  double CracklePerSecond = 0;
  double CrackleLevel = 0;    // median peak of the short weak ticks of crackle
  double Rpm = 0;             // a scratch once per revolution at this speed; 0: none
  int ScratchTurns = 0;
  double HissDbfs = -90;      // RMS of the hiss, which belongs to the recording and is never a click
};

// The named wears of the bench: "sparse", "worn", "crackle"; false for another name.
bool WearByName(const std::string& name, TWear& wear);

// One disturbance as it landed in one channel: frames [First, Last] hold at least 3 % of its peak.
struct TRecordClick {
  int64_t First = 0, Last = 0;
  int Channel = 0;
  float Peak = 0;     // signed peak in 16-bit units
  double Width = 0;   // the defect's length in frames, before the replay chain
  char Kind = 't';    // 't' tick, 'c' crackle, 's' scratch
};

// Adds hiss to `music` (it then is the clean reference) and returns the noisy copy with its clicks.
// Both channels are affected when the signal is stereo; a mono signal gets one channel's share.
struct TRecordNoise {
  TSignal Noisy;
  std::vector<TRecordClick> Clicks;
  double HissDiffRms = 0;  // RMS of the hiss' first difference, the floor that audibility is measured on
};
TRecordNoise AddRecordNoise(TSignal& music, const TWear& wear, uint64_t seed);

// The list beside a corpus file: a header, then first, last, channel, peak, width, kind per line.
bool WriteRecordClicks(const std::string& path, const TRecordNoise& noise);
bool ReadRecordClicks(const std::string& path, std::vector<TRecordClick>& clicks, double& hissDiffRms);

}  // namespace klarwell::test
