#include "platform/sound/tone_renderer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace platform::sound {
namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kT0 = 5'000 * kMs;     // the stream's anchor on the fake clock
constexpr int kBuffer = 1024;
// Samples from a call to its sample: two buffers and 5 ms, as the adapter
// chooses for a device that renders two buffers ahead; set by each FakeDevice
// for its buffer size.
std::int64_t delay_samples = 2 * kBuffer + 240;

// Seven samples written by hand (a period of 7 shows where a loop restarts and
// where a stop cuts it): 0, 1000, -1000, 8385000, -8385000, 1, -1.
const std::vector<std::uint8_t> kSevenSamples = {
    'R', 'I', 'F', 'F', 57, 0, 0, 0, 'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0xBB, 0, 0,
    0x80, 0x32, 0x02, 0, 3, 0, 24, 0,
    'd', 'a', 't', 'a', 21, 0, 0, 0,
    0x00, 0x00, 0x00,  0xE8, 0x03, 0x00,  0x18, 0xFC, 0xFF,  0xE8, 0xF1, 0x7F,
    0x18, 0x0E, 0x80,  0x01, 0x00, 0x00,  0xFF, 0xFF, 0xFF};
const std::int32_t kSevenValues[] = {0, 1000, -1000, 8385000, -8385000, 1, -1};

const std::vector<std::uint8_t> kNoSamples = {
    'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0xBB, 0, 0,
    0x80, 0x32, 0x02, 0, 3, 0, 24, 0,
    'd', 'a', 't', 'a', 0, 0, 0, 0};

// The stream sample that a call at time t (not before the anchor) lands on:
// the nearest one.
std::int64_t SampleOf(std::int64_t t) {
  return delay_samples + ((t - kT0) * 48000 + 500'000'000) / 1'000'000'000;
}

// A device on the fake clock: each buffer is asked for while the one before
// it is still queued (its end is two buffers ahead of the clock), like a
// sound server keeping its queue full.
// `ppm` makes the device's clock run fast (positive) or slow.
class FakeDevice {
 public:
  // `startup_lead_ns`: in the stream's first second every callback comes that
  // much earlier, as while a sound server fills its buffer. `margin` is the
  // delay beyond the two buffers that the device renders ahead. Stall() makes
  // the device play everything from a given sample on later, as a server does
  // that played silence while the stream ran dry.
  explicit FakeDevice(SampleType type = SampleType::kInt32, int channels = 1,
                      int buffer = kBuffer, double ppm = 0, std::int64_t startup_lead_ns = 0,
                      int margin = 240)
      : type_(type), channels_(channels), buffer_(buffer), ppm_(ppm),
        startup_lead_ns_(startup_lead_ns) {
    delay_samples = 2 * buffer + margin;
    ResetForTesting();
    BeginStream(StreamSetup{type, channels, delay_samples, kT0});
  }

  void Stall(std::int64_t from_sample, std::int64_t to_sample, std::int64_t ns) {
    stall_from_ = from_sample;
    stall_to_ = to_sample;
    stall_ns_ = ns;
  }

  std::int64_t NextCallbackTime() const {
    const double ahead = static_cast<double>(rendered_ - buffer_);
    const double ns = ahead / 48000.0 * 1e9 / (1.0 + ppm_ * 1e-6);
    const std::int64_t lead = rendered_ < 48000 ? startup_lead_ns_ : 0;
    const std::int64_t stall =
        rendered_ >= stall_from_ && rendered_ < stall_to_ ? stall_ns_ : 0;
    return kT0 + stall +
           (ahead < 0 ? 0 : std::max<std::int64_t>(0, static_cast<std::int64_t>(ns) - lead));
  }

  // Runs every callback due up to and including time t.
  void RunUntil(std::int64_t t) {
    while (NextCallbackTime() <= t) {
      std::vector<std::uint32_t> words(static_cast<std::size_t>(buffer_) * channels_, 0xDEADBEEF);
      RenderSamples(words.data(), buffer_, NextCallbackTime());
      for (std::size_t i = 0; i < words.size(); i += channels_) {
        for (int c = 1; c < channels_; ++c) EXPECT_EQ(words[i + c], words[i]) << "channel " << c;
        out_.push_back(Value(words[i]));
      }
      rendered_ += buffer_;
    }
  }

  // The 24-bit values rendered so far, one per frame.
  const std::vector<std::int32_t>& out() const { return out_; }

 private:
  std::int32_t Value(std::uint32_t word) const {
    if (type_ == SampleType::kInt32) {
      EXPECT_EQ(word & 0xFF, 0u);
      return static_cast<std::int32_t>(word) / 256;
    }
    float f;
    std::memcpy(&f, &word, sizeof f);
    const double scaled = static_cast<double>(f) * 8388608.0;
    EXPECT_EQ(scaled, static_cast<double>(static_cast<std::int32_t>(scaled)));
    return static_cast<std::int32_t>(scaled);
  }

  SampleType type_;
  int channels_;
  int buffer_;
  double ppm_;
  std::int64_t startup_lead_ns_ = 0;
  std::int64_t stall_from_ = INT64_MAX;
  std::int64_t stall_to_ = INT64_MAX;
  std::int64_t stall_ns_ = 0;
  std::int64_t rendered_ = 0;
  std::vector<std::int32_t> out_;
};

// Checks that out[from, to) is the seven samples end to end from the first,
// and that [silent_from, silent_to) is silent.
void ExpectTone(const std::vector<std::int32_t>& out, std::int64_t from, std::int64_t to) {
  ASSERT_LE(to, static_cast<std::int64_t>(out.size()));
  for (std::int64_t i = from; i < to; ++i) {
    ASSERT_EQ(out[i], kSevenValues[(i - from) % 7]) << "sample " << i << " of tone at " << from;
  }
}
void ExpectSilence(const std::vector<std::int32_t>& out, std::int64_t from, std::int64_t to) {
  ASSERT_LE(to, static_cast<std::int64_t>(out.size()));
  for (std::int64_t i = from; i < to; ++i) ASSERT_EQ(out[i], 0) << "sample " << i;
}

TEST(ToneRenderer, ToneLastsFromItsStartCallToItsStopCallToTheSample) {
  FakeDevice device;
  const std::int64_t start = kT0 + 10 * kMs;
  const std::int64_t stop = start + 50 * kMs;
  device.RunUntil(start);
  const int sound = LoadSound(kSevenSamples.data());
  ASSERT_NE(sound, 0);
  StartSound(sound, start);
  device.RunUntil(stop);
  StopSound(sound, stop);
  ReleaseSound(sound, stop);
  device.RunUntil(stop + 200 * kMs);

  const std::int64_t first = delay_samples + 480;  // 10 ms after the anchor
  ASSERT_EQ(SampleOf(start), first);
  ExpectSilence(device.out(), 0, first);
  ExpectTone(device.out(), first, first + 2400);  // exactly 50 ms, from sample 0 of the image
  ExpectSilence(device.out(), first + 2400, static_cast<std::int64_t>(device.out().size()));
  EXPECT_EQ(ReadRenderStats().late_edges, 0);
  EXPECT_FALSE(EdgesPending());
}

TEST(ToneRenderer, AStreamReanchoredAtACallbackMapsLaterCallsFromThere) {
  // The device was started late (a server still held silence): its callbacks
  // come 30 ms after the anchor set at the opening would have them.
  FakeDevice device;
  device.Stall(0, INT64_MAX, 30 * kMs);
  device.RunUntil(kT0 + 55 * kMs);
  const StreamClock clock = ReadStreamClock();
  ASSERT_EQ(clock.callbacks, 3);  // two at once to fill the queue, the third a buffer later
  EXPECT_EQ(clock.rendered, 3 * kBuffer);
  EXPECT_EQ(clock.last_callback_ns, kT0 + 30 * kMs + kBuffer * 1'000'000'000LL / 48000);
  EXPECT_EQ(clock.gap_ns, kBuffer * 1'000'000'000LL / 48000);

  // 8 ms (384 samples) past the end of what the last callback wrote.
  Reanchor(clock.last_callback_ns, clock.rendered + 384);
  const std::int64_t start = clock.last_callback_ns + 5 * kMs;
  const int sound = LoadSound(kSevenSamples.data());
  StartSound(sound, start);
  StopSound(sound, start + 10 * kMs);
  device.RunUntil(start + 200 * kMs);
  const std::int64_t first = 3 * kBuffer + 384 + 240;  // 5 ms later
  ExpectSilence(device.out(), 0, first);
  ExpectTone(device.out(), first, first + 480);
  ExpectSilence(device.out(), first + 480, static_cast<std::int64_t>(device.out().size()));
  EXPECT_EQ(ReadRenderStats().late_edges, 0);
}

TEST(ToneRenderer, EdgesKeepTheirDistanceInSamplesAtAnyBufferSizeAndFormat) {
  // Ten tones of 1.003 ms .. 50 ms with gaps of odd lengths, started and
  // stopped across buffer boundaries; each must start on its own sample with
  // the image's first sample and stop mid-period exactly where its stop maps.
  struct Case {
    const char* what;
    SampleType type;
    int channels;
    int buffer;
  } const kCases[] = {
      {"int32 mono 512", SampleType::kInt32, 1, 512},
      {"float mono 512", SampleType::kFloat32, 1, 512},
      {"int32 stereo 441", SampleType::kInt32, 2, 441},
      {"float 6 channels 64", SampleType::kFloat32, 6, 64},
      {"int32 mono 4096", SampleType::kInt32, 1, 4096},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FakeDevice device(c.type, c.channels, c.buffer);
    struct Tone {
      std::int64_t start, stop;
    };
    std::vector<Tone> tones;
    std::int64_t t = kT0 + 3 * kMs + 17'000;
    for (int i = 0; i < 10; ++i) {
      const std::int64_t length = 1'003'000 + i * 5'444'777;
      tones.push_back({t, t + length});
      t += length + 7'000'001 + i * 1'234'567;
    }
    for (const Tone& tone : tones) {
      device.RunUntil(tone.start);
      const int sound = LoadSound(kSevenSamples.data());
      StartSound(sound, tone.start);
      device.RunUntil(tone.stop);
      StopSound(sound, tone.stop);
      ReleaseSound(sound, tone.stop);
    }
    device.RunUntil(t + 100 * kMs);
    std::int64_t silent_from = 0;
    for (const Tone& tone : tones) {
      ExpectSilence(device.out(), silent_from, SampleOf(tone.start));
      ExpectTone(device.out(), SampleOf(tone.start), SampleOf(tone.stop));
      silent_from = SampleOf(tone.stop);
    }
    ExpectSilence(device.out(), silent_from, static_cast<std::int64_t>(device.out().size()));
    EXPECT_EQ(ReadRenderStats().late_edges, 0);
  }
}

TEST(ToneRenderer, AnImageWithoutSamplesSoundsSilence) {
  FakeDevice device;
  const int sound = LoadSound(kNoSamples.data());
  ASSERT_NE(sound, 0);
  StartSound(sound, kT0 + kMs);
  device.RunUntil(kT0 + 60 * kMs);
  StopSound(sound, kT0 + 60 * kMs);
  ReleaseSound(sound, kT0 + 60 * kMs);
  device.RunUntil(kT0 + 200 * kMs);
  ExpectSilence(device.out(), 0, static_cast<std::int64_t>(device.out().size()));
  EXPECT_FALSE(EdgesPending());
}

TEST(ToneRenderer, RefusedImageMakesNoSoundAndUnknownHandlesAreIgnored) {
  FakeDevice device;
  std::vector<std::uint8_t> stereo = kSevenSamples;
  stereo[22] = 2;
  EXPECT_EQ(LoadSound(stereo.data()), 0);
  const int sound = LoadSound(kSevenSamples.data());
  ReleaseSound(sound, kT0);
  // The released handle and made-up ones start nothing.
  for (int handle : {sound, 0, -3, sound + 1, 1 << 30}) StartSound(handle, kT0 + kMs);
  EXPECT_FALSE(ToneSounding());
  device.RunUntil(kT0 + 100 * kMs);
  ExpectSilence(device.out(), 0, static_cast<std::int64_t>(device.out().size()));
}

TEST(ToneRenderer, ASoundReleasedBeforeItsStopIsRenderedKeepsItsSamples) {
  // The element stops and releases its sound at once and loads the next one
  // while the stop is still on its way to the audio thread: the new samples
  // must not be written over the ones still being played.
  FakeDevice device;
  std::vector<std::uint8_t> other = kNoSamples;  // a sound of one sample, 4242
  other[4] = 39;
  other[40] = 3;
  other.insert(other.end(), {0x92, 0x10, 0x00});
  const std::int64_t start = kT0 + 2 * kMs;
  const std::int64_t stop = start + 20 * kMs;
  device.RunUntil(start);
  const int first = LoadSound(kSevenSamples.data());
  StartSound(first, start);
  device.RunUntil(stop);
  StopSound(first, stop);
  ReleaseSound(first, stop);
  const int second = LoadSound(other.data());
  ASSERT_NE(second, 0);
  StartSound(second, stop + 5 * kMs);
  StopSound(second, stop + 6 * kMs);
  ReleaseSound(second, stop + 6 * kMs);
  device.RunUntil(stop + 100 * kMs);
  ExpectTone(device.out(), SampleOf(start), SampleOf(stop));
  ExpectSilence(device.out(), SampleOf(stop), SampleOf(stop + 5 * kMs));
  for (std::int64_t i = SampleOf(stop + 5 * kMs); i < SampleOf(stop + 6 * kMs); ++i) {
    ASSERT_EQ(device.out()[i], 4242);
  }
  ExpectSilence(device.out(), SampleOf(stop + 6 * kMs), static_cast<std::int64_t>(device.out().size()));
}

TEST(ToneRenderer, AStartEndsTheSoundThatWasSoundingAndRestartsFromTheFirstSample) {
  FakeDevice device;
  const int a = LoadSound(kSevenSamples.data());
  const int b = LoadSound(kSevenSamples.data());
  ASSERT_NE(a, b);
  StartSound(a, kT0 + 1 * kMs);
  StartSound(b, kT0 + 1 * kMs + 62'500);  // 3 samples later: a is cut mid-period
  StopSound(a, kT0 + 4 * kMs);            // a no longer sounds: nothing happens
  StartSound(b, kT0 + 5 * kMs);           // b again, from its first sample
  StopSound(b, kT0 + 9 * kMs);
  device.RunUntil(kT0 + 100 * kMs);
  ExpectTone(device.out(), SampleOf(kT0 + kMs), SampleOf(kT0 + kMs) + 3);
  ExpectTone(device.out(), SampleOf(kT0 + kMs) + 3, SampleOf(kT0 + 5 * kMs));
  ExpectTone(device.out(), SampleOf(kT0 + 5 * kMs), SampleOf(kT0 + 9 * kMs));
  ExpectSilence(device.out(), SampleOf(kT0 + 9 * kMs), static_cast<std::int64_t>(device.out().size()));
}

TEST(ToneRenderer, AnEdgeThatComesTooLateLandsOnTheNextSampleStillToCome) {
  FakeDevice device;
  device.RunUntil(kT0 + 100 * kMs);
  const std::int64_t rendered = static_cast<std::int64_t>(device.out().size());
  const int sound = LoadSound(kSevenSamples.data());
  StartSound(sound, kT0);  // stamped long before: its sample is gone
  device.RunUntil(kT0 + 150 * kMs);
  StopSound(sound, kT0 + 150 * kMs);
  device.RunUntil(kT0 + 300 * kMs);
  EXPECT_EQ(ReadRenderStats().late_edges, 1);
  ExpectSilence(device.out(), 0, rendered);
  ExpectTone(device.out(), rendered, SampleOf(kT0 + 150 * kMs));
}

TEST(ToneRenderer, AllSoundsBusyGivesNoSoundUntilTheirEdgesAreRendered) {
  FakeDevice device;
  std::vector<int> sounds;
  for (int i = 0; i < kMaxSounds; ++i) {
    sounds.push_back(LoadSound(kSevenSamples.data()));
    ASSERT_NE(sounds.back(), 0);
  }
  EXPECT_EQ(LoadSound(kSevenSamples.data()), 0);
  for (int sound : sounds) {
    StartSound(sound, kT0 + kMs);
    ReleaseSound(sound, kT0 + kMs);
  }
  EXPECT_EQ(LoadSound(kSevenSamples.data()), 0);  // their edges are still queued
  device.RunUntil(kT0 + 100 * kMs);
  EXPECT_NE(LoadSound(kSevenSamples.data()), 0);
}

// Where each tone of kSevenSamples begins in `out`: its sample 0 after
// silence.
std::vector<std::int64_t> ToneStarts(const std::vector<std::int32_t>& out) {
  std::vector<std::int64_t> found;
  for (std::size_t i = 1; i < out.size(); ++i)
    // Inside a tone sample 0 follows the image's last sample, never silence.
    if (out[i] == 1000 && out[i - 1] == 0 && (i < 2 || out[i - 2] == 0)) found.push_back(i - 1);
  return found;
}

// Keys dots of 20 ms, `gap` apart, from 1 ms after the stream's start until
// `until`, and plays out the last; returns the start times of the dots.
std::vector<std::int64_t> KeyDots(FakeDevice& device, std::int64_t until,
                                  std::int64_t gap = 20 * kMs) {
  std::vector<std::int64_t> starts;
  std::int64_t t = kT0 + 1 * kMs;
  while (t < until) {
    device.RunUntil(t);
    const int sound = LoadSound(kSevenSamples.data());
    StartSound(sound, t);
    device.RunUntil(t + 20 * kMs);
    StopSound(sound, t + 20 * kMs);
    ReleaseSound(sound, t + 20 * kMs);
    starts.push_back(t);
    t += 20 * kMs + gap;
  }
  device.RunUntil(t + 100 * kMs);
  return starts;
}

TEST(ToneRenderer, DriftIsFollowedInSilencesOnlyAndTonesKeepTheirLength) {
  // A device 500 ppm fast eats 0.5 ms of margin per second: without
  // correction the edges would be late after about ten seconds.
  for (double ppm : {500.0, -500.0}) {
    SCOPED_TRACE(ppm);
    FakeDevice device(SampleType::kInt32, 1, kBuffer, ppm);
    const std::vector<std::int64_t> starts = KeyDots(device, kT0 + 60'000 * kMs);  // a minute
    const RenderStats stats = ReadRenderStats();
    EXPECT_EQ(stats.late_edges, 0);
    EXPECT_NE(stats.shifted_samples, 0);
    // Each tone is still 960 samples of the image from its first sample, and
    // the delay from its start call to the moment the device plays its first
    // sample never strays far from the first tone's.
    const auto& out = device.out();
    std::int64_t i = 0;
    std::size_t found = 0;
    double first_delay_ms = 0;
    while (i < static_cast<std::int64_t>(out.size())) {
      if (out[i] == 0 && !(i + 1 < static_cast<std::int64_t>(out.size()) && out[i + 1] == 1000)) {
        ++i;
        continue;
      }
      ASSERT_LT(found, starts.size());
      const double played_ns = i / 48000.0 * 1e9 / (1.0 + ppm * 1e-6);
      const double delay_ms = (played_ns - static_cast<double>(starts[found] - kT0)) / 1e6;
      if (found == 0) first_delay_ms = delay_ms;
      EXPECT_NEAR(delay_ms, first_delay_ms, 6.0) << "tone " << found;
      ExpectTone(out, i, i + 960);
      ASSERT_EQ(out[i + 960], 0);
      ++found;
      i += 960;
    }
    EXPECT_EQ(found, starts.size());
    // Each silence is 960 samples, give or take the four of one correction.
    const std::vector<std::int64_t> tone_starts = ToneStarts(out);
    for (std::size_t k = 1; k < tone_starts.size(); ++k)
      EXPECT_NEAR(tone_starts[k] - tone_starts[k - 1], 1920, 4) << "silence " << k;
  }
}

TEST(ToneRenderer, AMarginThatJumpsIsTakenBackSlowlyOnlyWhenItStays) {
  // The device plays everything from the fifth second on 6 ms later, as a
  // server does after the stream ran dry for 6 ms: for good, or only for a
  // second or two before it catches up.
  struct Case {
    const char* what;
    std::int64_t seconds;  // how long the jump lasts
    bool taken_back;
  };
  const Case cases[] = {
      {"for good", 1000, true},
      {"for one second", 1, false},
      {"for two seconds", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDevice device;
    device.Stall(5 * 48000, (5 + c.seconds) * 48000, 6 * kMs);
    // Letter gaps at 50 ms units: a silence spans seven buffers.
    const std::vector<std::int64_t> starts = KeyDots(device, kT0 + 30'000 * kMs, 150 * kMs);
    const RenderStats stats = ReadRenderStats();
    EXPECT_EQ(stats.late_edges, 0);
    if (c.taken_back) {
      EXPECT_LE(stats.shifted_samples, -240);  // of the 288 samples of the jump
      EXPECT_GE(stats.shifted_samples, -288);
    } else {
      EXPECT_EQ(stats.shifted_samples, 0);
    }
    // No silence changes by more than four samples (0.083 ms).
    const std::vector<std::int64_t> found = ToneStarts(device.out());
    ASSERT_EQ(found.size(), starts.size());
    for (std::size_t k = 1; k < found.size(); ++k)
      EXPECT_NEAR(found[k] - found[k - 1], 960 + 7200, 4) << "silence " << k;
  }
}

}  // namespace
TEST(ToneRenderer, AServerFillingItsBufferAtStartShiftsNothingOnADeviceThatDoesNotDrift) {
  // The first second's callbacks come 4 ms early; afterwards the device keeps
  // the system's time. Every silence must stay exactly as keyed.
  FakeDevice device(SampleType::kInt32, 1, kBuffer, 0, 4 * kMs, 480);
  const std::vector<std::int64_t> starts = KeyDots(device, kT0 + 10'000 * kMs);
  const RenderStats stats = ReadRenderStats();
  EXPECT_EQ(stats.late_edges, 0);
  EXPECT_EQ(stats.shifted_samples, 0);
  // Tone starts stay 40 ms (1920 samples) apart, all of them.
  const std::vector<std::int64_t> found = ToneStarts(device.out());
  ASSERT_EQ(found.size(), starts.size());
  for (std::size_t k = 1; k < found.size(); ++k) EXPECT_EQ(found[k] - found[k - 1], 1920) << k;
}

}  // namespace platform::sound
