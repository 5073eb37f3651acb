#include "tests/support/playback/CaptureWaveOut.h"

namespace klarwell {

bool TCaptureWaveOut::ValidId(int deviceId) const {
  return deviceId >= -1 && deviceId + 1 < static_cast<int>(Devices.size());
}

int TCaptureWaveOut::NumDevs() {
  return Devices.empty() ? 0 : static_cast<int>(Devices.size()) - 1;
}

bool TCaptureWaveOut::GetDevCaps(int deviceId, std::string& productName) {
  if (!ValidId(deviceId)) return false;
  productName = Devices[deviceId + 1];
  return true;
}

int TCaptureWaveOut::Open(int deviceId, const TWaveFormat& format, TWaveOutListener* listener) {
  if (Opened) return WaveOutError;
  if (!ValidId(deviceId)) return WaveOutBadDeviceId;
  if (OpenResult != WaveOutOk) return OpenResult;
  Opened = true;
  IsPaused = false;
  ++Opens;
  OpenedDevice = deviceId;
  OpenedFormat = format;
  Listener = listener;
  WritesThisOpen = 0;
  PreparesThisOpen = 0;
  return WaveOutOk;
}

int TCaptureWaveOut::PrepareHeader(TWaveHeader& header) {
  if (!Opened) return WaveOutNotOpen;
  if (++PreparesThisOpen == 2 && PrepareResult != WaveOutOk) return PrepareResult;
  MarkHeaderPrepared(header);
  return WaveOutOk;
}

int TCaptureWaveOut::UnprepareHeader(TWaveHeader& header) {
  if (!Opened) return WaveOutNotOpen;
  return MarkHeaderUnprepared(header);
}

int TCaptureWaveOut::Write(TWaveHeader& header) {
  if (!Opened) return WaveOutNotOpen;
  if (const int refused = CheckHeaderQueueable(header); refused != WaveOutOk) return refused;
  if (RefuseWritesAfter >= 0 && WritesThisOpen >= RefuseWritesAfter) return WaveOutError;
  ++WritesThisOpen;
  MarkHeaderQueued(header);
  Writes.push_back(TWrite{std::vector<uint8_t>(header.Data, header.Data + header.BufferLength), Opens});
  Queue.push_back(&header);
  return WaveOutOk;
}

int TCaptureWaveOut::Pause() {
  if (!Opened) return WaveOutNotOpen;
  ++Pauses;
  IsPaused = true;
  return WaveOutOk;
}

int TCaptureWaveOut::Restart() {
  if (!Opened) return WaveOutNotOpen;
  ++Restarts;
  IsPaused = false;
  return WaveOutOk;
}

int TCaptureWaveOut::Reset() {
  if (!Opened) return WaveOutNotOpen;
  ++Resets;
  const int open = Opens;
  TWaveOutListener* listener = Listener;
  while (!Queue.empty()) {
    TWaveHeader* header = Queue.front();
    Queue.pop_front();
    MarkHeaderDone(*header);
    Pending.push_back([this, open, listener, header] {
      if (open > Silenced) listener->WaveOutDone(header);
    });
  }
  return WaveOutOk;
}

int TCaptureWaveOut::Close(bool notify) {
  if (!Opened) return WaveOutNotOpen;
  if (!Queue.empty()) return WaveOutStillPlaying;
  Opened = false;
  ++Closes;
  const int open = Opens;
  TWaveOutListener* listener = Listener;
  Listener = nullptr;
  if (!notify) {
    Silenced = open;
    return WaveOutOk;
  }
  Pending.push_back([this, open, listener] {
    if (open > Silenced) listener->WaveOutClosed();
  });
  return WaveOutOk;
}

int TCaptureWaveOut::GetVolume(int deviceId, uint32_t& volume) {
  if (!VolumeSupported || !ValidId(deviceId)) return WaveOutError;
  auto it = Volume.find(deviceId);
  volume = it == Volume.end() ? 0xFFFFFFFFu : it->second;
  return WaveOutOk;
}

int TCaptureWaveOut::SetVolume(int deviceId, uint32_t volume) {
  if (!VolumeSupported || !ValidId(deviceId)) return WaveOutError;
  Volume[deviceId] = volume;
  VolumesSet.push_back(volume);
  return WaveOutOk;
}

bool TCaptureWaveOut::CompleteNext() {
  if (Queue.empty()) return false;
  TWaveHeader* header = Queue.front();
  Queue.pop_front();
  MarkHeaderDone(*header);
  const int open = Opens;
  TWaveOutListener* listener = Listener;
  Pending.push_back([this, open, listener, header] {
    if (open > Silenced) listener->WaveOutDone(header);
  });
  DeliverNotifications();
  return true;
}

void TCaptureWaveOut::DeliverNotifications() {
  // Bounded, so that a handler that keeps causing notifications fails a test instead of hanging it.
  for (int delivered = 0; !Pending.empty() && delivered < 100000; ++delivered) {
    std::function<void()> next = std::move(Pending.front());
    Pending.pop_front();
    next();
  }
}

int TCaptureWaveOut::PlayToEnd(int limit) {
  int completed = 0;
  DeliverNotifications();
  while (completed < limit && !Queue.empty()) {
    if (IsPaused) break;
    CompleteNext();
    ++completed;
  }
  return completed;
}

}  // namespace klarwell
