// The sound output over SDL2 (OpenSoundOutput ... ReleaseToneSound of
// platform.h), plus the two hooks that the event source and the process end
// call. The samples are rendered by platform/sound/tone_renderer.
#pragma once

#include <cstdint>

namespace platform::sdl {

// At start-up, before any thread but the first exists: sets what the sound
// server's client library reads from the environment (the latency asked of a
// PulseAudio server).
void PrepareSound();

// The keyer is about to wait for user input. Once the last tone has been heard
// the sound device is closed, so that an idle keyer costs no processor time;
// the next element opens it again. May wait for the few milliseconds that the
// last tone still takes to play out. Does nothing while a tone sounds.
void EnterIdle();

// Closes the sound device and SDL's audio; the end of the process.
void ShutdownSound();

// The constant delay from a start or stop call to its sample, 0 while the
// device is closed.
std::int64_t SoundDelayNs();

}  // namespace platform::sdl
