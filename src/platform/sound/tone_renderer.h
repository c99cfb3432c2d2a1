// The sample renderer behind the sound output. The main thread loads tone
// sounds and stamps every start and stop with the time of the call; the audio
// thread renders the stream, placing each edge on the sample that its time
// maps to. No sound device here: the adapter feeds the clock and the buffers,
// and a test can do the same with a clock of its own.
#pragma once

#include <cstdint>

namespace platform::sound {

// How the stream's samples are written. Both hold 24 bits exactly: a 24-bit
// value v is written as v x 256 (kInt32) or v / 2^23 (kFloat32).
enum class SampleType { kInt32, kFloat32 };

constexpr int kMaxSounds = 64;  // sounds that can exist or still be sounding

struct StreamSetup {
  SampleType type = SampleType::kInt32;
  int channels = 1;                 // every channel gets the same sample
  std::int64_t delay_samples = 0;   // the constant delay from a call to its sample
  std::int64_t anchor_ns = 0;       // the time that maps to stream sample delay_samples
};

// ---- Main thread ----------------------------------------------------------------

// Forgets every sound and edge and the stream.
void ResetForTesting();

// Starts a new stream at sample 0 (the sound device is (re)opened). Only while
// RenderSamples cannot run. Edges not yet rendered are dropped.
void BeginStream(const StreamSetup& setup);

// The stream's pace as the audio thread left it. Only while RenderSamples
// cannot run (the device is locked).
struct StreamClock {
  std::int64_t rendered = 0;          // frames written so far: the next one's number
  int callbacks = 0;                  // RenderSamples calls so far
  std::int64_t last_callback_ns = 0;  // the time of the last one
  std::int64_t gap_ns = 0;            // since the one before it (the first: since the anchor)
};
StreamClock ReadStreamClock();

// From now on the time `at_ns` maps to stream sample `sample`. Only while
// RenderSamples cannot run and before the first edge of the stream.
void Reanchor(std::int64_t at_ns, std::int64_t sample);

// A new sound holding the image's samples prepared in the stream's sample
// type; 0 when the image is refused (see ReadToneWave) or all sounds are busy.
int LoadSound(const std::uint8_t* image);

// The sound starts at its first sample / stops at the sample that `now_ns`
// maps to. One sound sounds at a time: a start ends the sound that was
// sounding. Unknown handles are ignored.
void StartSound(int sound, std::int64_t now_ns);
void StopSound(int sound, std::int64_t now_ns);

// Stops the sound if it sounds (at now_ns) and frees it; its storage is used
// again once the audio thread has passed its last edge.
void ReleaseSound(int sound, std::int64_t now_ns);

// True from a start until its stop (or the next start) was called.
bool ToneSounding();

// True while an edge has not been rendered yet.
bool EdgesPending();

// The time of the last start or stop; 0 before the first.
std::int64_t LastEdgeNs();

// ---- Audio thread ---------------------------------------------------------------

// Writes the next `frames` frames of the stream to `out` (4-byte samples,
// channels interleaved). `now_ns` is the time of the call, on the clock that
// stamps the edges. No allocation, no lock, no wait.
void RenderSamples(void* out, int frames, std::int64_t now_ns);

// ---- Figures, readable from any thread -------------------------------------------

struct RenderStats {
  std::int64_t rendered_frames = 0;  // since BeginStream
  std::int64_t late_edges = 0;       // edges whose sample was already rendered
  std::int64_t shifted_samples = 0;  // sum of the clock-drift corrections
  std::int64_t min_slack_samples = 0;  // smallest margin of the last measured second
};
RenderStats ReadRenderStats();

}  // namespace platform::sound
