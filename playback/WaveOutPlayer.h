#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/WavFile.h"

class QAudioSink;
class QIODevice;
class QTimer;

namespace klarwell {

// Result codes of the wave-output layer; 0 is success.
enum : int {
  WaveOutOk = 0,
  WaveOutError = 1,        // any other failure
  WaveOutBadDeviceId = 2,  // no device with that identifier (or no device at all)
  WaveOutNotOpen = 5,      // the device is not open
  WaveOutNoMemory = 7,
  WaveOutBadFormat = 32,     // the device cannot play this format
  WaveOutStillPlaying = 33,  // close refused: a buffer is still queued
  WaveOutUnprepared = 34,    // write of a header that was not prepared
};

// Header flags.
enum : uint32_t {
  WaveHeaderDone = 1,      // set when the device has finished with the buffer
  WaveHeaderPrepared = 2,  // set by PrepareHeader
  WaveHeaderInQueue = 16,  // queued, not yet played
};

// One buffer handed to the device. The data memory belongs to the caller and must stay valid until
// the header's done notification has been delivered (or the device was reset).
struct TWaveHeader {
  uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;  // bytes to play from Data; set before every write
  uint32_t Flags = 0;
};

// The header-flag rules every device keeps, whatever plays the bytes: a header must be prepared
// before it is queued, is queued at most once at a time, and cannot be unprepared while queued.
// Callers have checked that the device is open.
void MarkHeaderPrepared(TWaveHeader& header);
// WaveOutStillPlaying while the header is queued.
int MarkHeaderUnprepared(TWaveHeader& header);
// WaveOutUnprepared or WaveOutStillPlaying when the header cannot be queued now, else WaveOutOk.
int CheckHeaderQueueable(const TWaveHeader& header);
void MarkHeaderQueued(TWaveHeader& header);
// The device has finished with the buffer (played, or returned by Reset).
void MarkHeaderDone(TWaveHeader& header);

// The two buffers of one file during a playback: headers and data blocks A and B.
struct TWaveBufferSet {
  std::unique_ptr<TWaveHeader> HeaderA, HeaderB;
  std::unique_ptr<uint8_t[]> DataA, DataB;
  uint32_t Size = 0;  // bytes of each data block
};

// Clears `set` and allocates two headers and two zeroed data blocks of `size` bytes each
// (A before B). False, with nothing left allocated, when memory cannot be obtained. Once per playback.
bool AllocWaveBuffers(uint32_t size, TWaveBufferSet& set);
// Releases the four blocks; harmless on an empty set.
void FreeWaveBuffers(TWaveBufferSet& set);

// Receives the device's notifications. They are always delivered on the main thread from the event
// loop, never from inside a call into the device, in the order they arose: every buffer-done of a
// playback comes before its device-closed.
class TWaveOutListener {
 public:
  virtual ~TWaveOutListener() = default;
  // A queued buffer has been played (or returned by Reset).
  virtual void WaveOutDone(TWaveHeader* header) = 0;
  // The device was closed by Close(true).
  virtual void WaveOutClosed() = 0;
};

// A waveform output device: a list of devices, one open stream at a time, buffers queued in order.
// Device identifiers run from -1 (the default device, item 0 of the list) to NumDevs() - 1.
// Main thread only.
class TWaveOutDevice {
 public:
  virtual ~TWaveOutDevice() = default;

  // Number of identifiers after -1; the list has NumDevs() + 1 entries when a default device exists.
  virtual int NumDevs() = 0;
  // The device's product name; false when there is no device with that identifier.
  virtual bool GetDevCaps(int deviceId, std::string& productName) = 0;

  // Opens the device for `format` (only the plain header fields: tag, channels, rate, average bytes,
  // block align, bits). Notifications go to `listener` until the device-closed notification.
  virtual int Open(int deviceId, const TWaveFormat& format, TWaveOutListener* listener) = 0;
  virtual bool IsOpen() const = 0;
  virtual int PrepareHeader(TWaveHeader& header) = 0;
  virtual int UnprepareHeader(TWaveHeader& header) = 0;
  // Queues header.BufferLength bytes of header.Data behind the buffers already queued.
  virtual int Write(TWaveHeader& header) = 0;
  virtual int Pause() = 0;
  virtual int Restart() = 0;
  // Stops at once and returns every queued buffer (each gets its done notification).
  virtual int Reset() = 0;
  // Refused with WaveOutStillPlaying while a buffer is queued. With `notify` a device-closed
  // notification follows; without it the listener hears nothing more (for closing after a failed start).
  virtual int Close(bool notify = true) = 0;

  // Volume of a device, left channel in the low 16 bits, right in the high 16 bits (0xFFFF full).
  virtual int GetVolume(int deviceId, uint32_t& volume) = 0;
  virtual int SetVolume(int deviceId, uint32_t volume) = 0;
};

// Opens `device` for `format` and prepares both headers of `set` over its data blocks with
// `bufferBytes` as their length (A first). Any failure closes the device again (silently) and returns
// a non-zero code.
int OpenWaveOut(TWaveOutDevice& device, int deviceId, uint32_t bufferBytes, const TWaveFormat& format,
                TWaveBufferSet& set, TWaveOutListener* listener);

// The wave-output layer over Qt Multimedia's QAudioSink (PulseAudio on this platform).
//
// The sink is fed in push mode from a 10 ms timer with what bytesFree() allows, out of the queued
// buffers; a buffer counts as done when the sink has really consumed its last byte (bytes written
// minus bytes still held in the sink), not by the sink's clock, which runs on even while the server
// has not started the stream. When everything queued has been handed over but the stream does not
// move, the sink is topped up with silence so that the server's prebuffer fills and the stream starts.
class TWaveOutPlayer : public QObject, public TWaveOutDevice {
  Q_OBJECT

 public:
  explicit TWaveOutPlayer(QObject* parent = nullptr);
  ~TWaveOutPlayer() override;

  int NumDevs() override;
  bool GetDevCaps(int deviceId, std::string& productName) override;
  int Open(int deviceId, const TWaveFormat& format, TWaveOutListener* listener) override;
  bool IsOpen() const override { return Sink != nullptr; }
  int PrepareHeader(TWaveHeader& header) override;
  int UnprepareHeader(TWaveHeader& header) override;
  int Write(TWaveHeader& header) override;
  int Pause() override;
  int Restart() override;
  int Reset() override;
  int Close(bool notify = true) override;
  int GetVolume(int deviceId, uint32_t& volume) override;
  int SetVolume(int deviceId, uint32_t volume) override;

 private:
  struct TQueued {
    TWaveHeader* Header;
    uint32_t Written;    // bytes of this buffer handed to the sink
    uint64_t EndOffset;  // stream offset just after its last byte, once fully written
    bool FullyWritten;
  };

  void RefreshDevices();
  void Feed();
  void StartSink();
  void PostDone(TWaveHeader* header);
  void ReturnQueued();
  void ApplyVolume();

  std::vector<std::string> DeviceNames;     // default device first
  std::vector<std::string> DeviceIds;       // QAudioDevice::id() of each entry
  std::map<std::string, uint32_t> Volumes;  // by device id; full volume until set

  std::unique_ptr<QAudioSink> Sink;
  QIODevice* Push = nullptr;  // owned by the sink
  std::unique_ptr<QTimer> FeedTimer;
  TWaveOutListener* Listener = nullptr;
  std::string OpenDeviceId;
  uint32_t FrameBytes = 0;
  std::deque<TQueued> Queue;
  uint64_t StreamWritten = 0;   // bytes handed to the sink since it was started
  uint64_t StreamConsumed = 0;  // bytes the sink has played, never decreasing
  qsizetype Capacity = 0;       // the sink's real size: the most free space seen
  int StallTicks = 0;
  bool Paused = false;
  uint64_t Generation = 0;  // counts the opens
  uint64_t Silenced = 0;    // notifications of this open and earlier ones are dropped
};

}  // namespace klarwell
