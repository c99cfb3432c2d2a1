// The element player in virtual time: tones, silences, Escape snapshots and
// what happens when the sound output or the memory fails.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window.h"
#include "fake/fake_platform.h"
#include "keying/elements.h"
#include "keying/tone.h"
#include "logic/fixture.h"

namespace {

using fake::Segment;
using fake::What;

// A status text as shown: on which row, with what text, when.
struct Status {
  int row;
  std::u16string text;
  std::int64_t t_ms;
  bool operator==(const Status&) const = default;
};

std::vector<Status> StatusesShown() {
  std::vector<Status> out;
  for (const auto& r : fake::LogOf(What::kCreateControl))
    if (r.number == app::kStatusLabel) out.push_back({r.y, r.text, r.t_ms});
  return out;
}

class ElementTest : public LogicTest {
 protected:
  void SetUp() override {
    LogicTest::SetUp();
    settings::Numbers numbers;
    numbers.ToneHz = 800;
    numbers.CarrierMs = 2000;
    numbers.CarrierPauseMs = 1000;
    settings::SetForTesting(numbers, u"");
  }
};

// Every sound loaded is started, stopped and released, in this order.
void ExpectEachSoundStartedStoppedReleased() {
  std::vector<What> sound_calls;
  int handle = 0;
  for (const auto& r : fake::Log()) {
    if (r.what == What::kLoadSound && r.handle != 0) handle = r.handle;
    if (r.what == What::kLoadSound || r.what == What::kToneStart ||
        r.what == What::kToneStop || r.what == What::kReleaseSound) {
      sound_calls.push_back(r.what);
      if (r.what != What::kLoadSound) {
        EXPECT_EQ(r.handle, handle);
      }
    }
  }
  ASSERT_EQ(sound_calls.size() % 4, 0u);
  for (std::size_t i = 0; i < sound_calls.size(); i += 4)
    EXPECT_EQ(std::vector<What>(sound_calls.begin() + i, sound_calls.begin() + i + 4),
              (std::vector<What>{What::kLoadSound, What::kToneStart, What::kToneStop,
                                 What::kReleaseSound}));
}

TEST_F(ElementTest, DotIsToneThenGapWithASnapshotBeforeAndAfterTheTone) {
  keying::SetKeyingTimes(50);
  keying::PlayDot();
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 50}, {false, 50}}));
  EXPECT_EQ(fake::Now(), 100);
  std::vector<std::int64_t> snapshots;
  for (const auto& r : fake::LogOf(What::kReadKeyboard)) snapshots.push_back(r.t_ms);
  EXPECT_EQ(snapshots, (std::vector<std::int64_t>{0, 50}));
  // The sound output is opened before the image is made, and the image is
  // one period at the current tone.
  ASSERT_EQ(fake::LogOf(What::kOpenSound).size(), 1u);
  ASSERT_EQ(fake::LoadedImages().size(), 1u);
  EXPECT_EQ(fake::LoadedImages()[0].size(), 224u);
  ExpectEachSoundStartedStoppedReleased();
}

TEST_F(ElementTest, DashIsToneThenGapWithoutSnapshots) {
  keying::SetKeyingTimes(50);
  keying::PlayDash();
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 150}, {false, 50}}));
  EXPECT_TRUE(fake::LogOf(What::kReadKeyboard).empty());
  ExpectEachSoundStartedStoppedReleased();
}

TEST_F(ElementTest, CarrierShowsItsTwoStatusTextsAroundToneAndPause) {
  keying::SetKeyingTimes(50);  // not used by the carrier
  keying::PlayCarrier();
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 2000}, {false, 1000}}));
  EXPECT_EQ(StatusesShown(), (std::vector<Status>{{400, u"Bärvåg", 0},
                                                  {400, u"", 2000},
                                                  {430, u"Paus mellan bärvåg och text", 2000},
                                                  {430, u"", 3000}}));
  for (const auto& r : fake::LogOf(What::kCreateControl)) EXPECT_EQ(r.x, 390);
  EXPECT_TRUE(fake::LogOf(What::kReadKeyboard).empty());
  ExpectEachSoundStartedStoppedReleased();
}

TEST_F(ElementTest, ImageFollowsTheCurrentTone) {
  settings::Numbers numbers = settings::Current();
  numbers.ToneHz = 700;
  settings::SetForTesting(numbers, u"");
  keying::PlayDash();
  ASSERT_EQ(fake::LoadedImages().size(), 1u);
  EXPECT_EQ(fake::LoadedImages()[0].size(), 248u);
}

// A silent image (a tone between 16001 and 24000 Hz) keeps the element's timing.
TEST_F(ElementTest, SilentImageKeepsTheTiming) {
  settings::Numbers numbers = settings::Current();
  numbers.ToneHz = 20000;
  settings::SetForTesting(numbers, u"");
  keying::SetKeyingTimes(50);
  keying::PlayDot();
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 50}, {false, 50}}));
}

TEST_F(ElementTest, UnitOfZeroStartsAndStopsTheToneAtOnce) {
  keying::SetKeyingTimes(0);
  keying::PlayDot();
  keying::PlayDash();
  EXPECT_EQ(fake::LogOf(What::kToneStart).size(), 2u);
  EXPECT_EQ(fake::LogOf(What::kToneStop).size(), 2u);
  EXPECT_EQ(fake::Now(), 0);
}

enum class Failure { kOpen, kImage, kImageForToneZero, kLoad };
enum class Kind { kDot, kDash, kCarrier };

// The failure table: what each element still does when a step fails. Dot 50,
// dash 150, gap 50; carrier 2000 with a pause of 1000.
TEST_F(ElementTest, FailureTableRowByRow) {
  const std::vector<Status> kCarrierOnlyBarvag = {{400, u"Bärvåg", 0}};
  const std::vector<Status> kCarrierAllTexts = {{400, u"Bärvåg", 0},
                                                {400, u"", 0},
                                                {430, u"Paus mellan bärvåg och text", 0},
                                                {430, u"", 1000}};
  const struct {
    Kind kind;
    Failure failure;
    std::int64_t duration_ms;
    std::size_t snapshots;
    std::vector<Status> statuses;
  } kCases[] = {
      {Kind::kDot, Failure::kOpen, 0, 1, {}},
      {Kind::kDot, Failure::kImage, 0, 1, {}},
      {Kind::kDot, Failure::kImageForToneZero, 0, 1, {}},
      {Kind::kDot, Failure::kLoad, 50, 2, {}},
      {Kind::kDash, Failure::kOpen, 0, 0, {}},
      {Kind::kDash, Failure::kImage, 0, 0, {}},
      {Kind::kDash, Failure::kImageForToneZero, 0, 0, {}},
      {Kind::kDash, Failure::kLoad, 50, 0, {}},
      {Kind::kCarrier, Failure::kOpen, 0, 0, kCarrierOnlyBarvag},
      {Kind::kCarrier, Failure::kImage, 0, 0, kCarrierOnlyBarvag},
      {Kind::kCarrier, Failure::kImageForToneZero, 0, 0, kCarrierOnlyBarvag},
      {Kind::kCarrier, Failure::kLoad, 1000, 0, kCarrierAllTexts},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "element " << int(c.kind) << ", failure " << int(c.failure));
    SetUp();
    keying::SetKeyingTimes(50);
    switch (c.failure) {
      case Failure::kOpen: fake::SetSoundOpenFails(true); break;
      case Failure::kImage: keying::FailImageAllocationsForTesting(true); break;
      case Failure::kImageForToneZero: {
        settings::Numbers numbers = settings::Current();
        numbers.ToneHz = 0;
        settings::SetForTesting(numbers, u"");
        break;
      }
      case Failure::kLoad: fake::SetSoundLoadFails(true); break;
    }
    switch (c.kind) {
      case Kind::kDot: keying::PlayDot(); break;
      case Kind::kDash: keying::PlayDash(); break;
      case Kind::kCarrier: keying::PlayCarrier(); break;
    }
    EXPECT_EQ(fake::Now(), c.duration_ms);
    EXPECT_TRUE(fake::LogOf(What::kToneStart).empty());
    EXPECT_TRUE(fake::LogOf(What::kReleaseSound).empty());
    EXPECT_EQ(fake::LogOf(What::kReadKeyboard).size(), c.snapshots);
    EXPECT_EQ(StatusesShown(), c.statuses);
    // Nothing is reported to the user.
    EXPECT_TRUE(fake::MessageBoxes().empty());

    // The next element tries again from its first step.
    fake::SetSoundOpenFails(false);
    fake::SetSoundLoadFails(false);
    keying::FailImageAllocationsForTesting(false);
    settings::Numbers numbers = settings::Current();
    numbers.ToneHz = 800;
    settings::SetForTesting(numbers, u"");
    keying::PlayDash();
    EXPECT_EQ(fake::LogOf(What::kToneStart).size(), 1u);
  }
}

TEST_F(ElementTest, EscapeReleasedBeforeTheToneEndsTheProcessFirst) {
  keying::SetKeyingTimes(50);
  fake::SetEscapeDown(true);
  EXPECT_FALSE(app::EscapeReleased());  // an earlier snapshot saw it held
  fake::SetEscapeDown(false);
  EXPECT_THROW(keying::PlayDot(), fake::ProcessEnded);
  EXPECT_TRUE(fake::LogOf(What::kOpenSound).empty());
  EXPECT_TRUE(fake::LogOf(What::kToneStart).empty());
}

TEST_F(ElementTest, EscapeReleasedDuringTheToneEndsTheProcessBeforeTheGap) {
  keying::SetKeyingTimes(50);
  fake::HoldEscape(0, 30);  // down at the first snapshot, up at the second
  EXPECT_THROW(keying::PlayDot(), fake::ProcessEnded);
  EXPECT_EQ(fake::Now(), 50);  // the gap is not slept
  EXPECT_EQ(fake::LogOf(What::kToneStop).size(), 1u);
}

TEST_F(ElementTest, EscapeIsNotLookedAtByTheDash) {
  keying::SetKeyingTimes(50);
  fake::SetEscapeDown(true);
  EXPECT_FALSE(app::EscapeReleased());
  fake::SetEscapeDown(false);
  keying::PlayDash();
  EXPECT_EQ(fake::LogOf(What::kReadKeyboard).size(), 1u);  // only the one above
}

TEST(KeyingTimes, FromTheUnitWithoutWrapping) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const struct {
    std::int32_t unit_ms;
    std::int32_t dot, dash, element_gap, letter_gap, word_gap;
  } kCases[] = {
      {50, 50, 150, 50, 150, 350},
      {0, 0, 0, 0, 0, 0},
      {1, 1, 3, 1, 3, 7},
      {306783378, 306783378, 920350134, 306783378, 920350134, 2147483646},
      // Beyond 32 bits the products are held at the limit, never wrapped
      // into a negative (or huge) sleep.
      {306783379, 306783379, 920350137, 306783379, 920350137, kMax},
      {kMax, kMax, kMax, kMax, kMax, kMax},
      {-1, -1, -3, -1, -3, -7},
      {kMin, kMin, kMin, kMin, kMin, kMin},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.unit_ms);
    keying::SetKeyingTimes(c.unit_ms);
    const keying::KeyingTimes& t = keying::CurrentKeyingTimes();
    EXPECT_EQ(t.DotMs, c.dot);
    EXPECT_EQ(t.DashMs, c.dash);
    EXPECT_EQ(t.ElementGapMs, c.element_gap);
    EXPECT_EQ(t.LetterGapMs, c.letter_gap);
    EXPECT_EQ(t.WordGapMs, c.word_gap);
  }
  keying::SetKeyingTimes(0);
}

}  // namespace
