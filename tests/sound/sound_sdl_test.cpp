// The SDL2 adapter on SDL's "dummy" audio driver: opening, retrying after a
// failure, refusing images, going idle and coming back.
#include "platform/sdl/sound_sdl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/sound/tone_renderer.h"

namespace {

const std::vector<std::uint8_t> kThreeSamples = {
    'R', 'I', 'F', 'F', 45, 0, 0, 0, 'W', 'A', 'V', 'E',
    'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0xBB, 0, 0,
    0x80, 0x32, 0x02, 0, 3, 0, 24, 0,
    'd', 'a', 't', 'a', 9, 0, 0, 0,
    0x00, 0x00, 0x00, 0xB7, 0xCD, 0x6E, 0x49, 0x32, 0x91};

class SoundSdl : public testing::Test {
 protected:
  void SetUp() override {
    platform::sdl::ShutdownSound();
    platform::sound::ResetForTesting();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }
  void TearDown() override { platform::sdl::ShutdownSound(); }
};

TEST_F(SoundSdl, NothingLoadsBeforeTheOutputIsOpen) {
  EXPECT_EQ(platform::LoadToneSound(kThreeSamples.data()), 0);
  platform::StartToneLoop(1);  // no output, no sound: nothing happens
  platform::StopToneLoop(1);
  platform::ReleaseToneSound(1);
}

TEST_F(SoundSdl, AFailedOpenIsTriedAgainAndASuccessLasts) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(platform::OpenSoundOutput());
  EXPECT_EQ(platform::LoadToneSound(kThreeSamples.data()), 0);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_TRUE(platform::OpenSoundOutput());
  EXPECT_GT(platform::sdl::SoundDelayNs(), 0);
  EXPECT_LT(platform::sdl::SoundDelayNs(), 50'000'000);
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_TRUE(platform::OpenSoundOutput());  // open already: nothing is tried
}

TEST_F(SoundSdl, LoadsOnlyTheToneFormatAndPlaysUntilStopped) {
  ASSERT_TRUE(platform::OpenSoundOutput());
  std::vector<std::uint8_t> stereo = kThreeSamples;
  stereo[22] = 2;
  EXPECT_EQ(platform::LoadToneSound(stereo.data()), 0);
  const platform::SoundHandle sound = platform::LoadToneSound(kThreeSamples.data());
  ASSERT_NE(sound, 0);
  platform::StartToneLoop(sound);
  EXPECT_TRUE(platform::sound::ToneSounding());
  platform::StopToneLoop(sound);
  platform::ReleaseToneSound(sound);
  EXPECT_FALSE(platform::sound::ToneSounding());
}

TEST_F(SoundSdl, IdleClosesTheDeviceOnceTheLastToneIsOverAndTheNextElementReopensIt) {
  ASSERT_TRUE(platform::OpenSoundOutput());
  const platform::SoundHandle sound = platform::LoadToneSound(kThreeSamples.data());
  platform::StartToneLoop(sound);
  platform::sdl::EnterIdle();  // a tone sounds: the device stays
  EXPECT_GT(platform::sdl::SoundDelayNs(), 0);
  platform::StopToneLoop(sound);
  platform::ReleaseToneSound(sound);
  platform::sdl::EnterIdle();  // waits for the stop to be played out, then closes
  EXPECT_EQ(platform::sdl::SoundDelayNs(), 0);
  EXPECT_FALSE(platform::sound::EdgesPending());

  EXPECT_TRUE(platform::OpenSoundOutput());
  EXPECT_GT(platform::sdl::SoundDelayNs(), 0);
  platform::sdl::EnterIdle();
  EXPECT_NE(platform::LoadToneSound(kThreeSamples.data()), 0);  // opens it again too
  EXPECT_GT(platform::sdl::SoundDelayNs(), 0);
}

}  // namespace
