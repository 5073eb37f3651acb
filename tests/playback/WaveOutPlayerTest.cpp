#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "playback/WaveOutPlayer.h"
#include "tests/playback/QtTestApp.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"
#include "tests/support/playback/CaptureWaveOut.h"

namespace klarwell {
namespace {

// Catches buffers that are not zeroed, of the wrong size, or left behind by FreeWaveBuffers.
TEST(WaveBuffers, AllocateZeroedAndFree) {
  TWaveBufferSet set;
  ASSERT_TRUE(AllocWaveBuffers(4096, set));
  ASSERT_TRUE(set.HeaderA && set.HeaderB && set.DataA && set.DataB);
  EXPECT_EQ(set.Size, 4096u);
  EXPECT_TRUE(std::all_of(set.DataB.get(), set.DataB.get() + 4096, [](uint8_t b) { return b == 0; }));
  set.DataA[0] = 7;
  ASSERT_TRUE(AllocWaveBuffers(16, set));  // a second allocation replaces the first
  EXPECT_EQ(set.DataA[0], 0);
  FreeWaveBuffers(set);
  EXPECT_FALSE(set.HeaderA || set.HeaderB || set.DataA || set.DataB);
  FreeWaveBuffers(set);
}

// Catches headers prepared longer than their data (the device would read past the block) and a
// device left open after a refused preparation.
TEST(WaveBuffers, OpenWaveOutPreparesBothHeadersOrClosesAgain) {
  TWaveFormat format;
  format.wFormatTag = WaveFormatPcm;
  format.nChannels = 2;
  format.nSamplesPerSec = 8000;
  format.nBlockAlign = 4;
  TCaptureWaveOut device;
  TWaveBufferSet set;
  ASSERT_TRUE(AllocWaveBuffers(32000, set));

  EXPECT_NE(OpenWaveOut(device, -1, 32001, format, set, nullptr), WaveOutOk);
  EXPECT_FALSE(device.IsOpen());

  device.PrepareResult = WaveOutNoMemory;
  EXPECT_EQ(OpenWaveOut(device, -1, 32000, format, set, nullptr), WaveOutNoMemory);
  EXPECT_FALSE(device.IsOpen());

  device.PrepareResult = WaveOutOk;
  ASSERT_EQ(OpenWaveOut(device, -1, 16000, format, set, nullptr), WaveOutOk);
  EXPECT_EQ(set.HeaderA->Data, set.DataA.get());
  EXPECT_EQ(set.HeaderB->Data, set.DataB.get());
  EXPECT_EQ(set.HeaderA->BufferLength, 16000u);
  EXPECT_TRUE(set.HeaderB->Flags & WaveHeaderPrepared);
  EXPECT_EQ(device.Close(false), WaveOutOk);
}

// --- The real output path -------------------------------------------------------------------

struct TRun {
  int ExitCode = -1;
  std::string Output;
};

TRun RunProbe(const QProcessEnvironment& env, const QStringList& args, int timeoutMs = 20000) {
  QProcess probe;
  probe.setProcessEnvironment(env);
  probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  probe.start(PLAYBACK_PROBE, args);
  TRun run;
  if (!probe.waitForStarted(5000)) return run;
  if (!probe.waitForFinished(timeoutMs)) {
    probe.kill();
    probe.waitForFinished(2000);
    return run;
  }
  run.ExitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
  run.Output = probe.readAllStandardOutput().toStdString();
  return run;
}

// An environment that reaches only the server at `socket` and never starts one of its own.
QProcessEnvironment SoundEnvironment(const std::string& dir, const std::string& socket) {
  const std::string config = dir + "/client.conf";
  QFile file(QString::fromStdString(config));
  if (file.open(QIODevice::WriteOnly)) file.write("autospawn = no\n");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(dir + "/home"));
  env.insert("PULSE_RUNTIME_PATH", QString::fromStdString(dir + "/run"));
  env.insert("PULSE_SERVER", QString::fromStdString("unix:" + socket));
  env.insert("PULSE_CLIENTCONFIG", QString::fromStdString(config));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("LC_ALL", "C.UTF-8");
  return env;
}

class TTempDir {
 public:
  TTempDir() : Path(test::MakeTempDir()) {
    std::filesystem::create_directories(Path + "/home");
    std::filesystem::create_directories(Path + "/run");
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  const std::string Path;
};

// 16-bit stereo 44.1 kHz: a 441 Hz tone at half scale.
test::TBytes ToneWav(double seconds) {
  test::TBytes samples;
  const int frames = static_cast<int>(seconds * 44100);
  for (int i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 441.0 * i / 44100.0)));
    test::Append16(samples, static_cast<uint16_t>(v));
    test::Append16(samples, static_cast<uint16_t>(v));
  }
  return test::SimpleWav(test::TFmtFields::Pcm(2, 2, 44100), samples);
}

// Without a sound server the device list is empty and Play reports the device, without a crash.
TEST(WaveOutPlayerReal, NoServerMeansNoDeviceAndAMessage) {
  test::EnsureQtApp();
  TTempDir dir;
  const QProcessEnvironment env = SoundEnvironment(dir.Path, dir.Path + "/no-server");
  TRun list = RunProbe(env, {"list"});
  EXPECT_EQ(list.ExitCode, 0);
  EXPECT_NE(list.Output.find("devices 0"), std::string::npos) << list.Output;

  const std::string file = dir.Path + "/tone.wav";
  ASSERT_TRUE(test::WriteBytes(file, ToneWav(0.2)));
  TRun play = RunProbe(env, {"play", QString::fromStdString(file)});
  EXPECT_EQ(play.ExitCode, 2);
  EXPECT_NE(play.Output.find("message Error on Wav-Output|Cannot initialize Wav-Device"), std::string::npos)
      << play.Output;
}

// A private sound server with a null sink whose monitor is recorded.
class TSoundServer {
 public:
  explicit TSoundServer(const std::string& dir) : Dir(dir), Socket(dir + "/sock") {}
  ~TSoundServer() {
    if (Server.state() != QProcess::NotRunning) {
      Server.terminate();
      if (!Server.waitForFinished(3000)) {
        Server.kill();
        Server.waitForFinished(2000);
      }
    }
  }

  bool Start(const QString& binary) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(Dir + "/home"));
    env.insert("PULSE_RUNTIME_PATH", QString::fromStdString(Dir + "/run"));
    Server.setProcessEnvironment(env);
    Server.setProcessChannelMode(QProcess::MergedChannels);
    // In the foreground, so that this process holds its pid and ends it.
    Server.start(binary, {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                          QString::fromStdString("--log-target=file:" + Dir + "/server.log"),
                          "--load=module-null-sink sink_name=testsink",
                          QString::fromStdString("--load=module-native-protocol-unix socket=" + Socket +
                                                 " auth-anonymous=1")});
    if (!Server.waitForStarted(5000)) return false;
    for (int i = 0; i < 100; ++i) {
      if (std::filesystem::exists(Socket)) return true;
      if (Server.state() == QProcess::NotRunning) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  const std::string Dir;
  const std::string Socket;
  QProcess Server;
};

// Plays a tone through the layer into a null sink and checks what the sink really received: the
// whole file, without gaps, not silence. Catches a stream that never starts (the server's prebuffer),
// buffers reported done before they were played, and a lost last buffer.
TEST(WaveOutPlayerReal, PlaysAFileIntoARealSink) {
  test::EnsureQtApp();
  const QString server = QStandardPaths::findExecutable("pulseaudio");
  const QString recorder = QStandardPaths::findExecutable("parecord");
  const QString control = QStandardPaths::findExecutable("pactl");
  if (server.isEmpty() || recorder.isEmpty() || control.isEmpty())
    GTEST_SKIP()
        << "no PulseAudio binaries (pulseaudio, parecord, pactl): install pulseaudio and pulseaudio-utils";

  TTempDir dir;
  TSoundServer sound(dir.Path);
  ASSERT_TRUE(sound.Start(server)) << "the sound server did not start; see " << dir.Path << "/server.log";
  const QProcessEnvironment env = SoundEnvironment(dir.Path, sound.Socket);

  const std::string raw = dir.Path + "/out.raw";
  QProcess record;
  record.setProcessEnvironment(env);
  record.start(recorder, {"--latency-msec=20", "--device=testsink.monitor", "--raw", "--format=s16le",
                          "--rate=44100", "--channels=2", QString::fromStdString(raw)});
  ASSERT_TRUE(record.waitForStarted(5000));
  bool recording = false;
  for (int i = 0; i < 50 && !recording; ++i) {
    QProcess query;
    query.setProcessEnvironment(env);
    query.start(control, {"list", "short", "source-outputs"});
    query.waitForFinished(3000);
    recording = !query.readAllStandardOutput().trimmed().isEmpty();
    if (!recording) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(recording) << "the recorder did not connect";

  const double seconds = 1.5;
  const std::string file = dir.Path + "/tone.wav";
  ASSERT_TRUE(test::WriteBytes(file, ToneWav(seconds)));
  const TRun play = RunProbe(env, {"play", QString::fromStdString(file)});
  EXPECT_EQ(play.ExitCode, 0) << play.Output;
  EXPECT_NE(play.Output.find("started"), std::string::npos) << play.Output;
  EXPECT_NE(play.Output.find("closed"), std::string::npos) << play.Output;

  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  record.terminate();
  if (!record.waitForFinished(3000)) record.kill();

  const test::TBytes bytes = test::ReadBytes(raw);
  const size_t frames = bytes.size() / 4;
  // 10 ms windows: loud when the tone's peak is there.
  const size_t window = 441;
  int firstLoud = -1, lastLoud = -1, loudCount = 0;
  for (size_t w = 0; w + 1 <= frames / window; ++w) {
    int peak = 0;
    for (size_t i = w * window; i < (w + 1) * window; ++i) {
      const auto v = static_cast<int16_t>(bytes[4 * i] | bytes[4 * i + 1] << 8);
      peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    if (peak > 8000) {
      if (firstLoud < 0) firstLoud = static_cast<int>(w);
      lastLoud = static_cast<int>(w);
      ++loudCount;
    }
  }
  ASSERT_GT(loudCount, 0) << "only silence was recorded (" << frames << " frames)";
  const int expectedWindows = static_cast<int>(seconds * 100);
  EXPECT_NEAR(lastLoud - firstLoud + 1, expectedWindows, 3) << "recorded span differs from the file's length";
  EXPECT_NEAR(loudCount, expectedWindows, 3) << "the recording has gaps";
}

// Stop during playback resets the sink and closes: the rest of the file is not played.
TEST(WaveOutPlayerReal, StopEndsAPlaybackEarly) {
  test::EnsureQtApp();
  const QString server = QStandardPaths::findExecutable("pulseaudio");
  if (server.isEmpty()) GTEST_SKIP() << "no pulseaudio binary: install pulseaudio";
  TTempDir dir;
  TSoundServer sound(dir.Path);
  ASSERT_TRUE(sound.Start(server));
  const QProcessEnvironment env = SoundEnvironment(dir.Path, sound.Socket);
  const std::string file = dir.Path + "/tone.wav";
  ASSERT_TRUE(test::WriteBytes(file, ToneWav(8.0)));
  const TRun play = RunProbe(env, {"play", QString::fromStdString(file), "0", "300"});
  EXPECT_EQ(play.ExitCode, 0) << play.Output;
  const size_t at = play.Output.find("closed ");
  ASSERT_NE(at, std::string::npos) << play.Output;
  // Two queued seconds and their two refills at most, of eight.
  EXPECT_LE(std::stoull(play.Output.substr(at + 7)), 4u * 44100 * 4) << "Stop did not end the playback";
}

// The server goes away during playback: the playback ends (the player returns to idle) instead of
// waiting for ever for buffers that will never be played.
TEST(WaveOutPlayerReal, LosingTheServerEndsThePlayback) {
  test::EnsureQtApp();
  const QString server = QStandardPaths::findExecutable("pulseaudio");
  if (server.isEmpty()) GTEST_SKIP() << "no pulseaudio binary: install pulseaudio";
  TTempDir dir;
  TSoundServer sound(dir.Path);
  ASSERT_TRUE(sound.Start(server));
  const std::string file = dir.Path + "/tone.wav";
  ASSERT_TRUE(test::WriteBytes(file, ToneWav(8.0)));

  QProcess probe;
  probe.setProcessEnvironment(SoundEnvironment(dir.Path, sound.Socket));
  probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  probe.start(PLAYBACK_PROBE, {"play", QString::fromStdString(file)});
  ASSERT_TRUE(probe.waitForStarted(5000));
  QByteArray output;
  while (!output.contains("started") && probe.waitForReadyRead(5000)) output += probe.readAllStandardOutput();
  ASSERT_TRUE(output.contains("started")) << output.toStdString();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  sound.Server.terminate();
  ASSERT_TRUE(sound.Server.waitForFinished(5000));

  ASSERT_TRUE(probe.waitForFinished(15000)) << "the playback did not end";
  output += probe.readAllStandardOutput();
  EXPECT_EQ(probe.exitCode(), 0) << output.toStdString();
  const qsizetype at = output.indexOf("closed ");
  ASSERT_GE(at, 0) << output.toStdString();
  EXPECT_LT(output.mid(at + 7).trimmed().toULongLong(), 8u * 44100 * 4);
}

}  // namespace
}  // namespace klarwell
