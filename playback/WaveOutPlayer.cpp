#include "playback/WaveOutPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <new>

namespace klarwell {

void MarkHeaderPrepared(TWaveHeader& header) {
  header.Flags |= WaveHeaderPrepared;
}

int MarkHeaderUnprepared(TWaveHeader& header) {
  if (header.Flags & WaveHeaderInQueue) return WaveOutStillPlaying;
  header.Flags &= ~WaveHeaderPrepared;
  return WaveOutOk;
}

int CheckHeaderQueueable(const TWaveHeader& header) {
  if (!(header.Flags & WaveHeaderPrepared)) return WaveOutUnprepared;
  if (header.Flags & WaveHeaderInQueue) return WaveOutStillPlaying;
  return WaveOutOk;
}

void MarkHeaderQueued(TWaveHeader& header) {
  header.Flags = (header.Flags & ~WaveHeaderDone) | WaveHeaderInQueue;
}

void MarkHeaderDone(TWaveHeader& header) {
  header.Flags = (header.Flags & ~WaveHeaderInQueue) | WaveHeaderDone;
}

bool AllocWaveBuffers(uint32_t size, TWaveBufferSet& set) {
  FreeWaveBuffers(set);
  set.HeaderA.reset(new (std::nothrow) TWaveHeader());
  if (set.HeaderA) set.DataA.reset(new (std::nothrow) uint8_t[size]());
  if (set.DataA) set.HeaderB.reset(new (std::nothrow) TWaveHeader());
  if (set.HeaderB) set.DataB.reset(new (std::nothrow) uint8_t[size]());
  if (!set.DataB) {
    FreeWaveBuffers(set);
    return false;
  }
  set.Size = size;
  return true;
}

void FreeWaveBuffers(TWaveBufferSet& set) {
  set.HeaderA.reset();
  set.HeaderB.reset();
  set.DataA.reset();
  set.DataB.reset();
  set.Size = 0;
}

int OpenWaveOut(TWaveOutDevice& device, int deviceId, uint32_t bufferBytes, const TWaveFormat& format,
                TWaveBufferSet& set, TWaveOutListener* listener) {
  // A header longer than its data block would let the device read past the allocation.
  if (!set.HeaderA || !set.HeaderB || bufferBytes > set.Size) return WaveOutError;
  int result = device.Open(deviceId, format, listener);
  if (result != WaveOutOk) return result;
  *set.HeaderA = TWaveHeader{set.DataA.get(), bufferBytes, 0};
  *set.HeaderB = TWaveHeader{set.DataB.get(), bufferBytes, 0};
  result = device.PrepareHeader(*set.HeaderA);
  if (result == WaveOutOk) result = device.PrepareHeader(*set.HeaderB);
  if (result != WaveOutOk) {
    device.Close(false);
    return result;
  }
  return WaveOutOk;
}

namespace {

// What the sink is asked to hold. The server grants about half; a short buffer keeps pause, stop
// and the position label close to what is heard.
constexpr qsizetype RequestedSinkMs = 200;
constexpr int FeedIntervalMs = 10;
// Ticks without any consumption, with everything queued handed over, before silence is added.
constexpr int StallTicksBeforePadding = 5;

uint16_t LeftOf(uint32_t volume) {
  return static_cast<uint16_t>(volume & 0xFFFF);
}
uint16_t RightOf(uint32_t volume) {
  return static_cast<uint16_t>(volume >> 16);
}

}  // namespace

TWaveOutPlayer::TWaveOutPlayer(QObject* parent) : QObject(parent) {
  FeedTimer = std::make_unique<QTimer>();
  FeedTimer->setInterval(FeedIntervalMs);
  connect(FeedTimer.get(), &QTimer::timeout, this, [this] { Feed(); });
}

TWaveOutPlayer::~TWaveOutPlayer() {
  FeedTimer->stop();
  if (Sink) Sink->stop();
}

void TWaveOutPlayer::RefreshDevices() {
  // The platform lists its devices by the server's sink index; the default one goes first, as item 0.
  QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
  std::stable_partition(outputs.begin(), outputs.end(), [](const QAudioDevice& d) { return d.isDefault(); });
  DeviceNames.clear();
  DeviceIds.clear();
  for (const QAudioDevice& device : outputs) {
    DeviceNames.push_back(device.description().toStdString());
    DeviceIds.push_back(device.id().toStdString());
  }
}

int TWaveOutPlayer::NumDevs() {
  RefreshDevices();
  return std::max<int>(0, static_cast<int>(DeviceIds.size()) - 1);
}

bool TWaveOutPlayer::GetDevCaps(int deviceId, std::string& productName) {
  if (DeviceIds.empty()) RefreshDevices();
  if (deviceId < -1 || deviceId + 1 >= static_cast<int>(DeviceIds.size())) return false;
  productName = DeviceNames[deviceId + 1];
  return true;
}

int TWaveOutPlayer::Open(int deviceId, const TWaveFormat& format, TWaveOutListener* listener) {
  if (Sink) return WaveOutError;
  if (DeviceIds.empty()) RefreshDevices();
  if (deviceId < -1 || deviceId + 1 >= static_cast<int>(DeviceIds.size())) return WaveOutBadDeviceId;
  const std::string id = DeviceIds[deviceId + 1];
  QAudioDevice device;
  for (const QAudioDevice& d : QMediaDevices::audioOutputs()) {
    if (d.id().toStdString() == id) device = d;
  }
  if (device.isNull()) return WaveOutBadDeviceId;

  // The sample width comes from the block alignment; the bits field of a file is not trusted.
  if (format.wFormatTag != WaveFormatPcm || format.nChannels < 1 || format.nChannels > 2 ||
      format.nSamplesPerSec == 0 || format.nSamplesPerSec > 768000 ||
      format.nBlockAlign % format.nChannels != 0)
    return WaveOutBadFormat;
  const int bytesPerSample = format.nBlockAlign / format.nChannels;
  if (bytesPerSample != 1 && bytesPerSample != 2) return WaveOutBadFormat;
  QAudioFormat audioFormat;
  audioFormat.setSampleRate(static_cast<int>(format.nSamplesPerSec));
  audioFormat.setChannelCount(format.nChannels);
  audioFormat.setSampleFormat(bytesPerSample == 1 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
  if (!device.isFormatSupported(audioFormat)) return WaveOutBadFormat;

  Sink = std::make_unique<QAudioSink>(device, audioFormat);
  Sink->setBufferSize(static_cast<qsizetype>(format.nSamplesPerSec) * format.nBlockAlign * RequestedSinkMs /
                      1000);
  FrameBytes = format.nBlockAlign;
  OpenDeviceId = id;
  StartSink();
  if (!Push) {
    Sink.reset();
    OpenDeviceId.clear();
    return WaveOutBadDeviceId;
  }
  Listener = listener;
  ++Generation;
  Paused = false;
  FeedTimer->start();
  return WaveOutOk;
}

void TWaveOutPlayer::StartSink() {
  Queue.clear();
  StreamWritten = 0;
  StreamConsumed = 0;
  Capacity = 0;
  StallTicks = 0;
  Push = Sink->start();
  if (Sink->error() != QAudio::NoError) Push = nullptr;
  if (Push) {
    ApplyVolume();
    Capacity = std::max<qsizetype>(0, Sink->bytesFree());
  }
}

int TWaveOutPlayer::PrepareHeader(TWaveHeader& header) {
  if (!Sink) return WaveOutNotOpen;
  MarkHeaderPrepared(header);
  return WaveOutOk;
}

int TWaveOutPlayer::UnprepareHeader(TWaveHeader& header) {
  if (!Sink) return WaveOutNotOpen;
  return MarkHeaderUnprepared(header);
}

int TWaveOutPlayer::Write(TWaveHeader& header) {
  if (!Sink) return WaveOutNotOpen;
  if (const int refused = CheckHeaderQueueable(header); refused != WaveOutOk) return refused;
  // The stream is gone (the server went away, or a restart after Reset failed): a buffer queued now
  // would never come back.
  if (!Push) return WaveOutError;
  MarkHeaderQueued(header);
  Queue.push_back(TQueued{&header, 0, 0, false});
  Feed();
  return WaveOutOk;
}

void TWaveOutPlayer::ReturnQueued() {
  std::deque<TQueued> returned;
  returned.swap(Queue);
  for (TQueued& queued : returned) {
    MarkHeaderDone(*queued.Header);
    PostDone(queued.Header);
  }
}

void TWaveOutPlayer::Feed() {
  if (!Sink || !Push || Paused) return;
  // Only Reset and Close stop the sink on purpose, and both drop the push device first. A sink that
  // stopped by itself lost its server: the queued buffers come back (unplayed) and further writes are
  // refused, so that the playback ends instead of waiting for ever.
  if (Sink->state() == QAudio::StoppedState) {
    Push = nullptr;
    ReturnQueued();
    return;
  }

  // What has really been played: all that was written minus what the sink still holds. The largest
  // free space ever seen is the sink's real size (the requested size is not what is granted).
  const qsizetype freeBefore = std::max<qsizetype>(0, Sink->bytesFree());
  Capacity = std::max(Capacity, freeBefore);
  const uint64_t held = std::min<uint64_t>(static_cast<uint64_t>(Capacity - freeBefore), StreamWritten);
  const uint64_t consumed = StreamWritten - held;
  bool moved = false;
  if (consumed > StreamConsumed) {
    StreamConsumed = consumed;
    moved = true;
  }

  while (!Queue.empty() && Queue.front().FullyWritten && Queue.front().EndOffset <= StreamConsumed) {
    TWaveHeader* header = Queue.front().Header;
    Queue.pop_front();
    MarkHeaderDone(*header);
    PostDone(header);
  }

  // Hand over whole frames, as far as the sink has room.
  qsizetype room = freeBefore;
  bool unwritten = false;
  for (TQueued& queued : Queue) {
    if (queued.FullyWritten) continue;
    const uint32_t length = queued.Header->BufferLength;
    qsizetype chunk = std::min<qsizetype>(room, static_cast<qsizetype>(length - queued.Written));
    if (length - queued.Written > static_cast<uint32_t>(chunk)) chunk -= chunk % FrameBytes;
    if (chunk > 0) {
      const qint64 written =
          Push->write(reinterpret_cast<const char*>(queued.Header->Data) + queued.Written, chunk);
      if (written > 0) {
        queued.Written += static_cast<uint32_t>(written);
        StreamWritten += static_cast<uint64_t>(written);
        room -= written;
      }
    }
    if (queued.Written >= length) {
      queued.FullyWritten = true;
      queued.EndOffset = StreamWritten;
    } else {
      unwritten = true;
      break;
    }
  }

  // The server starts a stream only when its prebuffer is full. When all that is queued has been
  // handed over and nothing moves, the rest of the sink is filled with silence so that it starts;
  // the silence plays after the last buffer.
  const bool waiting = !unwritten && StreamConsumed < StreamWritten;
  StallTicks = (waiting && !moved) ? StallTicks + 1 : 0;
  if (StallTicks >= StallTicksBeforePadding) {
    StallTicks = 0;
    qsizetype pad = std::max<qsizetype>(0, Sink->bytesFree());
    pad -= pad % FrameBytes;
    if (pad > 0) {
      // 8-bit samples are unsigned: their silence is 0x80.
      const char silence = Sink->format().sampleFormat() == QAudioFormat::UInt8 ? '\x80' : 0;
      const QByteArray zeros(pad, silence);
      const qint64 written = Push->write(zeros);
      if (written > 0) StreamWritten += static_cast<uint64_t>(written);
    }
  }
}

void TWaveOutPlayer::PostDone(TWaveHeader* header) {
  const uint64_t generation = Generation;
  TWaveOutListener* listener = Listener;
  QMetaObject::invokeMethod(
      this,
      [this, generation, listener, header] {
        if (generation > Silenced && listener) listener->WaveOutDone(header);
      },
      Qt::QueuedConnection);
}

int TWaveOutPlayer::Pause() {
  if (!Sink) return WaveOutNotOpen;
  Sink->suspend();
  Paused = true;
  return WaveOutOk;
}

int TWaveOutPlayer::Restart() {
  if (!Sink) return WaveOutNotOpen;
  if (Paused) Sink->resume();
  Paused = false;
  return WaveOutOk;
}

int TWaveOutPlayer::Reset() {
  if (!Sink) return WaveOutNotOpen;
  // Stopping deletes the sink's push device; a new start gives a fresh, empty stream.
  Sink->reset();
  Push = nullptr;
  ReturnQueued();
  Paused = false;
  StartSink();
  return WaveOutOk;
}

int TWaveOutPlayer::Close(bool notify) {
  if (!Sink) return WaveOutNotOpen;
  if (!Queue.empty()) return WaveOutStillPlaying;
  FeedTimer->stop();
  Sink->stop();
  Sink.reset();
  Push = nullptr;
  OpenDeviceId.clear();
  TWaveOutListener* listener = Listener;
  Listener = nullptr;
  const uint64_t generation = Generation;
  if (!notify) {
    Silenced = generation;
    return WaveOutOk;
  }
  QMetaObject::invokeMethod(
      this,
      [this, generation, listener] {
        if (generation > Silenced && listener) listener->WaveOutClosed();
      },
      Qt::QueuedConnection);
  return WaveOutOk;
}

int TWaveOutPlayer::GetVolume(int deviceId, uint32_t& volume) {
  if (DeviceIds.empty()) RefreshDevices();
  if (deviceId < -1 || deviceId + 1 >= static_cast<int>(DeviceIds.size())) return WaveOutBadDeviceId;
  auto it = Volumes.find(DeviceIds[deviceId + 1]);
  volume = it == Volumes.end() ? 0xFFFFFFFFu : it->second;
  return WaveOutOk;
}

int TWaveOutPlayer::SetVolume(int deviceId, uint32_t volume) {
  if (DeviceIds.empty()) RefreshDevices();
  if (deviceId < -1 || deviceId + 1 >= static_cast<int>(DeviceIds.size())) return WaveOutBadDeviceId;
  Volumes[DeviceIds[deviceId + 1]] = volume;
  if (Sink && OpenDeviceId == DeviceIds[deviceId + 1]) ApplyVolume();
  return WaveOutOk;
}

void TWaveOutPlayer::ApplyVolume() {
  if (!Sink) return;
  auto it = Volumes.find(OpenDeviceId);
  const uint32_t volume = it == Volumes.end() ? 0xFFFFFFFFu : it->second;
  // The sink has one linear gain for both channels; the louder channel sets it. It is applied as
  // data is written, so a change is heard after what the sink already holds.
  Sink->setVolume(std::max(LeftOf(volume), RightOf(volume)) / 65535.0);
}

}  // namespace klarwell
