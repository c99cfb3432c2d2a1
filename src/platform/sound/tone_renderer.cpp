#include "platform/sound/tone_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/sound/tone_wave.h"

// How an edge becomes a sample. Every StartSound/StopSound is stamped with the
// monotonic time of the call and handed to the audio thread through a
// single-producer/single-consumer ring. The audio thread maps the time t to
// the stream sample
//
//   pos(t) = delay_samples + shift + round((t - anchor_ns) x 48000 / 1e9)
//
// where anchor_ns is the moment the stream was started (sample 0 is the first
// one rendered after it) and delay_samples the constant delay D. Two calls
// dt apart therefore land exactly dt x 48000 samples apart, whatever the size
// or timing of the device's buffers. D must be larger than the stretch that the
// device renders ahead of the clock, or an edge would arrive after its sample
// was written ("late"; it is then placed on the first sample still to come).
//
// Clock drift. The device plays by its own clock, the edges follow the
// system's; a device 50 ppm fast or slow moves the margin between the two by
// 3 ms a minute. The margin ("slack": pos(now) minus the end of the buffer
// being rendered) is measured at every buffer and its smallest value kept per
// second of stream. The second second sets the reference (the first, while
// the server's buffer fills, says little). Drift is slow and steady, so only a
// margin that stays more than kSlackBand away from the reference for
// kSteadyWindows seconds in a row counts, and only by the part common to all
// of them; a margin that jumps once (the server played silence for a while
// after the stream ran dry) and comes back counts for nothing. What counts is
// taken back through `shift`, at most kMaxShiftPerSilence samples in any one
// silence and never inside a tone: tones keep their exact length and no
// silence changes by more than 0.1 ms. Only a margin near zero, where edges
// would soon come late, is taken back at once, in every buffer of the
// silences. With a device that keeps the system's time (a server's null sink,
// for one) nothing is shifted. The stream starts afresh, re-anchored, every
// time the device is opened after the keyer went idle.

namespace platform::sound {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kSamplesPerMs = kToneSampleRate / 1000;
constexpr std::int64_t kSlackBand = 2 * kSamplesPerMs;
constexpr int kSteadyWindows = 3;
constexpr std::int64_t kMaxShiftPerSilence = 4;
constexpr std::int64_t kSafeSlack = 3 * kSamplesPerMs;
constexpr std::int64_t kMinSlack = 1 * kSamplesPerMs;
constexpr std::int64_t kWindowSamples = kToneSampleRate;
constexpr int kNoSound = -1;

// Sequence numbers count edges from 1; an edge is "applied" once the audio
// thread has placed it and will not read the sound it ended again.
struct Edge {
  std::int64_t t_ns = 0;
  int slot = 0;
  bool start = false;
};
constexpr std::size_t kRingSize = 1024;  // a power of two

struct Slot {
  std::vector<std::uint32_t> words;  // prepared samples, one word each
  std::uint32_t count = 0;
  SampleType type = SampleType::kInt32;
  // Main thread only:
  bool loaded = false;
  std::uint32_t generation = 0;
  std::uint64_t last_edge = 0;  // the edge after which the audio thread leaves it
};

// Owned by the main thread.
struct Keys {
  std::array<Slot, kMaxSounds> slots;
  int sounding = kNoSound;  // the slot whose start was the latest edge, if not stopped
  std::int64_t last_edge_ns = 0;
  StreamSetup setup;
};

// Owned by the audio thread between BeginStream calls.
struct Voice {
  std::int64_t rendered = 0;  // next stream sample to write
  std::int64_t shift = 0;     // drift corrections so far
  int slot = kNoSound;
  const std::uint32_t* words = nullptr;
  std::uint32_t count = 0;
  std::uint32_t phase = 0;
  std::int64_t window_end = 0;
  std::int64_t window_min = 0;
  bool have_reference = false;
  bool settled = false;  // the first second of the stream is over
  std::int64_t reference = 0;
  int steady = 0;                     // windows in a row off the reference, one way
  std::int64_t steady_offset = 0;     // the smallest offset of those windows
  std::int64_t pending_shift = 0;
  bool urgent = false;                // the margin is near zero: no limit per silence
  int callbacks = 0;
  std::int64_t last_callback_ns = 0;
  std::int64_t gap_ns = 0;
  std::int64_t silence_shifted = 0;   // samples shifted since the last tone ended
};

Keys keys;
Voice voice;
std::array<Edge, kRingSize> ring;
std::atomic<std::uint64_t> pushed{0};   // written by the main thread
std::atomic<std::uint64_t> applied{0};  // written by the audio thread
std::atomic<std::int64_t> stat_rendered{0};
std::atomic<std::int64_t> stat_late{0};
std::atomic<std::int64_t> stat_shifted{0};
std::atomic<std::int64_t> stat_min_slack{0};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Nanoseconds to samples, rounded to the nearest (halves up).
std::int64_t NsToSamples(std::int64_t ns) {
  return FloorDiv(ns * kToneSampleRate + kNsPerSecond / 2, kNsPerSecond);
}

std::int64_t MapTime(std::int64_t t_ns) {
  return keys.setup.delay_samples + voice.shift + NsToSamples(t_ns - keys.setup.anchor_ns);
}

std::uint32_t Prepare(std::int32_t value, SampleType type) {
  if (type == SampleType::kInt32) return static_cast<std::uint32_t>(value) << 8;
  const float f = static_cast<float>(value) * (1.0f / 8388608.0f);  // exact: 24 bits
  std::uint32_t word;
  std::memcpy(&word, &f, sizeof word);
  return word;
}

std::int32_t Unprepare(std::uint32_t word, SampleType type) {
  if (type == SampleType::kInt32) return static_cast<std::int32_t>(word) >> 8;
  float f;
  std::memcpy(&f, &word, sizeof f);
  return static_cast<std::int32_t>(f * 8388608.0f);  // exact: 24 bits
}

bool SlotFree(const Slot& slot) {
  return !slot.loaded && applied.load(std::memory_order_acquire) >= slot.last_edge;
}

// Index of a live sound, or kNoSound.
int SlotOf(int sound) {
  if (sound <= 0) return kNoSound;
  const int index = (sound - 1) % kMaxSounds;
  const auto generation = static_cast<std::uint32_t>((sound - 1) / kMaxSounds);
  const Slot& slot = keys.slots[index];
  return slot.loaded && slot.generation == generation ? index : kNoSound;
}

// Queues an edge; false when the ring is full. A start keeps one place free for
// the stop that must follow it, so a stop always finds room.
bool PushEdge(int slot, bool start, std::int64_t now_ns) {
  const std::uint64_t n = pushed.load(std::memory_order_relaxed);
  const std::uint64_t used = n - applied.load(std::memory_order_acquire);
  if (used + (start ? 2 : 1) > kRingSize) return false;
  ring[n % kRingSize] = Edge{now_ns, slot, start};
  pushed.store(n + 1, std::memory_order_release);
  keys.last_edge_ns = now_ns;
  return true;
}

// Writes n frames of the voice (or silence) from `out` on; returns the end.
std::uint32_t* Fill(std::uint32_t* out, std::int64_t frames) {
  const int channels = keys.setup.channels;
  if (voice.slot == kNoSound || voice.count == 0) {
    const auto words = static_cast<std::size_t>(frames) * channels;
    std::memset(out, 0, words * sizeof *out);
    return out + words;
  }
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::uint32_t word = voice.words[voice.phase];
    for (int c = 0; c < channels; ++c) *out++ = word;
    if (++voice.phase == voice.count) voice.phase = 0;
  }
  return out;
}

// Keeps the smallest slack of each second of stream and, at the end of the
// second, decides whether the delay must be shifted to follow the device.
// The second second of the stream sets the reference.
void MeasureSlack(std::int64_t now_ns, std::int64_t buffer_end) {
  const std::int64_t slack = MapTime(now_ns) - buffer_end;
  voice.window_min = std::min(voice.window_min, slack);
  if (voice.rendered < voice.window_end) return;
  const std::int64_t seen = voice.window_min;
  stat_min_slack.store(seen, std::memory_order_relaxed);
  if (!voice.settled) {
    // In its first second the stream is filling the server's buffer, and the
    // callbacks come faster than they will: a margin measured then is smaller
    // than the stream's own, and taking it as the reference would shorten
    // the silences of a device that does not drift at all.
    voice.settled = true;
  } else if (!voice.have_reference) {
    voice.have_reference = true;
    voice.reference = std::max(seen, kSafeSlack);
  } else if (seen < kMinSlack) {
    voice.pending_shift = voice.reference - seen;
    voice.urgent = true;
    voice.steady = 0;
  } else {
    const std::int64_t offset = seen - voice.reference;
    const bool off = offset > kSlackBand || offset < -kSlackBand;
    if (!off || (voice.steady > 0 && (offset > 0) != (voice.steady_offset > 0))) {
      voice.steady = 0;
    }
    if (off) {
      voice.steady_offset = voice.steady == 0 ? offset
          : (offset > 0 ? std::min(offset, voice.steady_offset)
                        : std::max(offset, voice.steady_offset));
      if (++voice.steady == kSteadyWindows) {
        voice.pending_shift = -voice.steady_offset;
        voice.steady = 0;
      }
    }
  }
  voice.window_min = std::numeric_limits<std::int64_t>::max();
  voice.window_end = voice.rendered + kWindowSamples;
}

}  // namespace

void ResetForTesting() {
  keys = Keys{};
  voice = Voice{};
  ring = {};
  pushed.store(0);
  applied.store(0);
  stat_rendered.store(0);
  stat_late.store(0);
  stat_shifted.store(0);
  stat_min_slack.store(0);
  voice.window_min = std::numeric_limits<std::int64_t>::max();
  voice.window_end = kWindowSamples;
}

void BeginStream(const StreamSetup& setup) {
  // Sounds loaded for another sample type are prepared again.
  for (Slot& slot : keys.slots) {
    if (slot.type == setup.type) continue;
    for (std::uint32_t k = 0; k < slot.count; ++k) {
      slot.words[k] = Prepare(Unprepare(slot.words[k], slot.type), setup.type);
    }
    slot.type = setup.type;
  }
  keys.setup = setup;
  keys.setup.channels = std::max(setup.channels, 1);
  keys.sounding = kNoSound;
  applied.store(pushed.load());
  voice = Voice{};
  voice.window_min = std::numeric_limits<std::int64_t>::max();
  voice.window_end = kWindowSamples;
  stat_rendered.store(0);
  stat_late.store(0);
  stat_shifted.store(0);
  stat_min_slack.store(0);
}

StreamClock ReadStreamClock() {
  return StreamClock{voice.rendered, voice.callbacks, voice.last_callback_ns, voice.gap_ns};
}

void Reanchor(std::int64_t at_ns, std::int64_t sample) {
  keys.setup.anchor_ns = at_ns;
  keys.setup.delay_samples = sample - voice.shift;
}

int LoadSound(const std::uint8_t* image) {
  const auto wave = ReadToneWave(image);
  if (!wave) return 0;
  // The lowest free slot, so that a keyer sounding one element after another
  // keeps using the same few buffers and stops allocating once they are grown.
  int index = 0;
  while (index < kMaxSounds && !SlotFree(keys.slots[index])) ++index;
  if (index == kMaxSounds) return 0;
  Slot& slot = keys.slots[index];
  if (slot.words.size() < wave->sample_count) slot.words.resize(wave->sample_count);
  slot.type = keys.setup.type;
  for (std::uint32_t k = 0; k < wave->sample_count; ++k) {
    slot.words[k] = Prepare(ToneSampleAt(*wave, k), slot.type);
  }
  slot.count = wave->sample_count;
  slot.loaded = true;
  slot.generation = (slot.generation + 1) % (1u << 20);
  return static_cast<int>(slot.generation) * kMaxSounds + index + 1;
}

void StartSound(int sound, std::int64_t now_ns) {
  const int index = SlotOf(sound);
  if (index == kNoSound) return;
  if (!PushEdge(index, true, now_ns)) return;
  const std::uint64_t edge = pushed.load(std::memory_order_relaxed);
  // The sound that was sounding is left by the audio thread at this edge.
  if (keys.sounding != kNoSound) keys.slots[keys.sounding].last_edge = edge;
  keys.sounding = index;
  keys.slots[index].last_edge = edge;
}

void StopSound(int sound, std::int64_t now_ns) {
  const int index = SlotOf(sound);
  if (index == kNoSound || keys.sounding != index) return;
  PushEdge(index, false, now_ns);  // always finds room, see PushEdge
  keys.slots[index].last_edge = pushed.load(std::memory_order_relaxed);
  keys.sounding = kNoSound;
}

void ReleaseSound(int sound, std::int64_t now_ns) {
  const int index = SlotOf(sound);
  if (index == kNoSound) return;
  StopSound(sound, now_ns);
  keys.slots[index].loaded = false;
}

bool ToneSounding() { return keys.sounding != kNoSound; }

bool EdgesPending() {
  return applied.load(std::memory_order_acquire) != pushed.load(std::memory_order_relaxed);
}

std::int64_t LastEdgeNs() { return keys.last_edge_ns; }

void RenderSamples(void* out, int frames, std::int64_t now_ns) {
  auto* dst = static_cast<std::uint32_t*>(out);
  if (frames <= 0) return;
  const std::int64_t begin = voice.rendered;
  const std::int64_t end = begin + frames;
  voice.gap_ns = now_ns - (voice.callbacks == 0 ? keys.setup.anchor_ns : voice.last_callback_ns);
  voice.last_callback_ns = now_ns;
  ++voice.callbacks;
  MeasureSlack(now_ns, end);
  std::uint64_t a = applied.load(std::memory_order_relaxed);
  if (voice.slot == kNoSound && voice.pending_shift != 0) {
    // An earlier shift never pulls a waiting edge into the samples already
    // written.
    const std::int64_t room = voice.urgent ? kMaxShiftPerSilence
                                           : kMaxShiftPerSilence - std::abs(voice.silence_shifted);
    const std::int64_t step = std::clamp(voice.pending_shift, -room, room);
    const bool waiting = a < pushed.load(std::memory_order_acquire);
    if (step != 0 &&
        (step > 0 || !waiting || MapTime(ring[a % kRingSize].t_ns) + step >= begin)) {
      voice.shift += step;
      voice.pending_shift -= step;
      voice.silence_shifted += step;
      if (voice.pending_shift == 0) voice.urgent = false;
      stat_shifted.fetch_add(step, std::memory_order_relaxed);
    }
  }
  std::int64_t cursor = begin;
  while (a < pushed.load(std::memory_order_acquire)) {
    const Edge& edge = ring[a % kRingSize];
    std::int64_t at = MapTime(edge.t_ns);
    if (at >= end) break;
    if (at < begin) {
      at = begin;
      stat_late.fetch_add(1, std::memory_order_relaxed);
    }
    at = std::max(at, cursor);
    dst = Fill(dst, at - cursor);
    cursor = at;
    if (edge.start) {
      const Slot& slot = keys.slots[edge.slot];
      voice.slot = edge.slot;
      voice.silence_shifted = 0;
      voice.words = slot.words.data();
      voice.count = slot.count;
      voice.phase = 0;
    } else if (voice.slot == edge.slot) {
      voice.slot = kNoSound;
    }
    applied.store(++a, std::memory_order_release);
  }
  Fill(dst, end - cursor);
  voice.rendered = end;
  stat_rendered.store(end, std::memory_order_relaxed);
}

RenderStats ReadRenderStats() {
  return RenderStats{stat_rendered.load(), stat_late.load(), stat_shifted.load(),
                     stat_min_slack.load()};
}

}  // namespace platform::sound
