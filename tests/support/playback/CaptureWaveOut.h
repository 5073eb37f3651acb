#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "playback/WaveOutPlayer.h"

namespace klarwell {

// A wave-output device that plays nothing: it records every buffer queued to it and lets its owner
// decide when a buffer is done. Notifications are held back and delivered by CompleteNext() or
// DeliverNotifications(), in the order they arose, as a message loop would deliver them.
// Used by the player's tests; main thread only.
class TCaptureWaveOut : public TWaveOutDevice {
 public:
  struct TWrite {
    std::vector<uint8_t> Bytes;  // what the buffer held when it was queued
    int Open = 0;                // which open it belongs to (1 for the first)
  };

  // Behaviour, set by the test.
  std::vector<std::string> Devices = {"Default output", "Second output"};  // item 0 is the default
  int OpenResult = WaveOutOk;                                              // returned by Open when not 0
  int PrepareResult = WaveOutOk;  // returned by the second PrepareHeader when not 0
  int RefuseWritesAfter = -1;     // writes refused once this many of an open succeeded (-1: never)
  bool VolumeSupported = true;
  std::map<int, uint32_t> Volume;  // by device identifier; 0xFFFFFFFF until set

  // What happened.
  std::vector<TWrite> Writes;
  std::vector<uint32_t> VolumesSet;
  TWaveFormat OpenedFormat;
  int OpenedDevice = -2;
  int Opens = 0, Pauses = 0, Restarts = 0, Resets = 0, Closes = 0;

  int NumDevs() override;
  bool GetDevCaps(int deviceId, std::string& productName) override;
  int Open(int deviceId, const TWaveFormat& format, TWaveOutListener* listener) override;
  bool IsOpen() const override { return Opened; }
  int PrepareHeader(TWaveHeader& header) override;
  int UnprepareHeader(TWaveHeader& header) override;
  int Write(TWaveHeader& header) override;
  int Pause() override;
  int Restart() override;
  int Reset() override;
  int Close(bool notify = true) override;
  int GetVolume(int deviceId, uint32_t& volume) override;
  int SetVolume(int deviceId, uint32_t volume) override;

  // Marks the oldest queued buffer done and delivers the pending notifications. False when nothing
  // was queued.
  bool CompleteNext();
  // Delivers held notifications until none is left (handlers may cause more; at most 100000).
  void DeliverNotifications();
  // Completes buffers until the device is closed and quiet, or `limit` buffers were completed.
  // Returns the number completed.
  int PlayToEnd(int limit = 100000);
  size_t QueuedCount() const { return Queue.size(); }
  bool Paused() const { return IsPaused; }

 private:
  bool ValidId(int deviceId) const;

  bool Opened = false;
  bool IsPaused = false;
  int WritesThisOpen = 0;
  int PreparesThisOpen = 0;
  TWaveOutListener* Listener = nullptr;
  std::deque<TWaveHeader*> Queue;
  std::deque<std::function<void()>> Pending;
  int Silenced = 0;  // notifications of this open and earlier are dropped
};

}  // namespace klarwell
