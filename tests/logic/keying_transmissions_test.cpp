// Test and Run in virtual time: what is shown, when, and what is sounded.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window.h"
#include "fake/fake_platform.h"
#include "keying/transmissions.h"
#include "logic/fixture.h"

namespace {

using fake::Segment;
using fake::What;

// For the failure messages only.
std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct Status {
  int row;
  std::u16string text;
  std::int64_t t_ms;
  bool operator==(const Status&) const = default;
  friend void PrintTo(const Status& s, std::ostream* os) {
    *os << "{" << s.row << ", \"" << Utf8(s.text) << "\", " << s.t_ms << "}";
  }
};

// The status texts shown by the keying (the label created with the window
// stands at x 420; every status text after it at x 390).
std::vector<Status> StatusesShown() {
  std::vector<Status> out;
  for (const auto& r : fake::LogOf(What::kCreateControl))
    if (r.number == app::kStatusLabel && r.x == 390) out.push_back({r.y, r.text, r.t_ms});
  return out;
}

// A display's texts after the one it was created with, with their times.
struct Shown {
  std::u16string text;
  std::int64_t t_ms;
  bool operator==(const Shown&) const = default;
  friend void PrintTo(const Shown& s, std::ostream* os) {
    *os << "{\"" << Utf8(s.text) << "\", " << s.t_ms << "}";
  }
};
std::vector<Shown> ShownAfterCreation(int number) {
  std::vector<Shown> out;
  bool created = false;
  for (const auto& r : fake::LogOf(What::kCreateControl)) {
    if (r.number != number) continue;
    if (created) out.push_back({r.text, r.t_ms});
    created = true;
  }
  return out;
}

bool Shows(const Status& wanted) {
  for (const Status& s : StatusesShown())
    if (s.row == wanted.row && s.text == wanted.text) return true;
  return false;
}

// The seven input fields as typed.
struct Fields {
  std::u16string tone = u"800";
  std::u16string unit = u"50";
  std::u16string message = u"E";
  std::u16string carrier = u"0";
  std::u16string carrier_pause = u"1000";
  std::u16string repeat_pause = u"2000";
  std::u16string repeat_count = u"1";
};

class TransmissionTest : public LogicTest {
 protected:
  // The window with its controls, the fields typed in.
  void OpenWindow(const Fields& f) {
    app::OpenMainWindow();
    app::CreateControls();
    fake::SetFieldText(app::kToneField, f.tone);
    fake::SetFieldText(app::kUnitField, f.unit);
    fake::SetFieldText(app::kMessageField, f.message);
    fake::SetFieldText(app::kCarrierField, f.carrier);
    fake::SetFieldText(app::kCarrierPauseField, f.carrier_pause);
    fake::SetFieldText(app::kRepeatPauseField, f.repeat_pause);
    fake::SetFieldText(app::kRepeatCountField, f.repeat_count);
  }

  // Settings set directly, for TransmitOnce without the handlers.
  void Set(std::int32_t unit_ms, std::u16string message, std::int32_t repeat_pause_ms = 0) {
    app::OpenMainWindow();
    app::CreateControls();
    settings::Numbers numbers;
    numbers.ToneHz = 800;
    numbers.UnitMs = unit_ms;
    numbers.RepeatPauseMs = repeat_pause_ms;
    numbers.RepeatCount = 1;
    settings::SetForTesting(numbers, std::move(message));
  }
};

// The rhythm of whole messages at a unit of 10 ms: 4 units between the
// characters of a word, 11 between words and 7 more for every further space;
// what keys nothing takes no time.
TEST_F(TransmissionTest, MessageRhythm) {
  const struct {
    std::u16string message;
    std::vector<Segment> rhythm;
    std::int64_t total_ms;
  } kCases[] = {
      // A E: 9 + 7 + 5 = 21 units.
      {u"A E", {{true, 10}, {false, 10}, {true, 30}, {false, 110}, {true, 10}, {false, 40}}, 210},
      // Two spaces: 1 + 3 + 7 + 7 = 18 units between the words.
      {u"E  E", {{true, 10}, {false, 180}, {true, 10}, {false, 40}}, 240},
      {u"A!B", {{true, 10}, {false, 10}, {true, 30}, {false, 40}, {true, 30}, {false, 10},
                {true, 10}, {false, 10}, {true, 10}, {false, 10}, {true, 10}, {false, 40}}, 220},
      {u"   ", {}, 210},
      {u"e", {}, 0},
      {u"test de", {}, 70},
      // A with a combining ring keys the A alone; the precomposed letter is .--.-
      {u"A\u030A", {{true, 10}, {false, 10}, {true, 30}, {false, 40}}, 90},
      {u"\u00C5", {{true, 10}, {false, 10}, {true, 30}, {false, 10}, {true, 30}, {false, 10},
                   {true, 10}, {false, 10}, {true, 30}, {false, 40}}, 190},
      // The halves of a surrogate pair key nothing.
      {u"E\U0001F600E", {{true, 10}, {false, 40}, {true, 10}, {false, 40}}, 100},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf8(c.message));
    SetUp();
    Set(10, c.message);
    keying::TransmitOnce();
    EXPECT_EQ(fake::Rhythm(), c.rhythm);
    EXPECT_EQ(fake::Now(), c.total_ms);
  }
}

// Every code unit is shown before it is keyed, also those that key nothing.
TEST_F(TransmissionTest, SentTextGrowsBeforeEachCharacter) {
  Set(10, u"Ae B");
  keying::TransmitOnce();
  EXPECT_EQ(ShownAfterCreation(app::kSentTextView),
            (std::vector<Shown>{{u" A", 0}, {u" Ae", 90}, {u" Ae ", 90}, {u" Ae B", 160}}));
  EXPECT_EQ(keying::SentText(), u" Ae B");
  // "Meddelandet sänds ut" before every character.
  std::vector<std::int64_t> message_status;
  for (const Status& s : StatusesShown())
    if (s.row == 490 && !s.text.empty()) message_status.push_back(s.t_ms);
  EXPECT_EQ(message_status, (std::vector<std::int64_t>{0, 90, 90, 160}));
}

TEST_F(TransmissionTest, TestOfOneDot) {
  OpenWindow({});
  keying::TestHandler();
  EXPECT_EQ(ShownAfterCreation(app::kSentTextView), (std::vector<Shown>{{u" E", 0}}));
  // 50 ms of tone, 50 + 150 of silence, then the 2000 ms pause.
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 50}, {false, 2200}}));
  EXPECT_EQ(StatusesShown(), (std::vector<Status>{{490, u"Meddelandet sänds ut", 0},
                                                  {490, u"", 250},
                                                  {460, u"Pause mellan utsändningarna", 250},
                                                  {460, u"", 2250},
                                                  {520, u"Klart", 2250}}));
  EXPECT_TRUE(ShownAfterCreation(app::kCountView).empty());
  EXPECT_TRUE(fake::LogOf(What::kPollEvent).empty());  // no RefreshWindow in a Test
  EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(TransmissionTest, TestWithCarrier) {
  Fields fields;
  fields.carrier = u"2000";
  OpenWindow(fields);
  keying::TestHandler();
  EXPECT_EQ(fake::Rhythm(),
            (std::vector<Segment>{{true, 2000}, {false, 1000}, {true, 50}, {false, 2200}}));
  EXPECT_EQ(StatusesShown(), (std::vector<Status>{{400, u"Bärvåg", 0},
                                                  {400, u"", 2000},
                                                  {430, u"Paus mellan bärvåg och text", 2000},
                                                  {430, u"", 3000},
                                                  {490, u"Meddelandet sänds ut", 3000},
                                                  {490, u"", 3250},
                                                  {460, u"Pause mellan utsändningarna", 3250},
                                                  {460, u"", 5250},
                                                  {520, u"Klart", 5250}}));
  // The sent text changes only once the message begins.
  EXPECT_EQ(ShownAfterCreation(app::kSentTextView), (std::vector<Shown>{{u" E", 3000}}));
}

TEST_F(TransmissionTest, CarrierOfOneMillisecondAndOfZeroOrBelow) {
  const struct {
    std::u16string carrier;
    bool with_carrier;
  } kCases[] = {{u"1", true}, {u"0", false}, {u"-5", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf8(c.carrier));
    SetUp();
    Fields fields;
    fields.carrier = c.carrier;
    fields.carrier_pause = u"-1000";  // not used, so not refused, when there is no carrier
    if (c.with_carrier) fields.carrier_pause = u"1000";
    OpenWindow(fields);
    keying::TestHandler();
    EXPECT_EQ(Shows({400, u"Bärvåg", 0}), c.with_carrier);
    EXPECT_EQ(fake::LogOf(What::kToneStart).size(), c.with_carrier ? 2u : 1u);
    EXPECT_EQ(fake::Now(), (c.with_carrier ? 1001 : 0) + 2250);
    EXPECT_TRUE(Shows({520, u"Klart", 0}));
  }
}

TEST_F(TransmissionTest, EmptyMessageStillRunsTheCarrierAndThePause) {
  Fields fields;
  fields.message = u"";
  fields.carrier = u"100";
  OpenWindow(fields);
  keying::TestHandler();
  EXPECT_TRUE(ShownAfterCreation(app::kSentTextView).empty());
  EXPECT_FALSE(Shows({490, u"Meddelandet sänds ut", 0}));
  EXPECT_EQ(fake::Rhythm(), (std::vector<Segment>{{true, 100}, {false, 3000}}));
  EXPECT_TRUE(Shows({520, u"Klart", 0}));
}

TEST_F(TransmissionTest, RunOfThreeCountsAfterEachPause) {
  Fields fields;
  fields.repeat_count = u"3";
  OpenWindow(fields);
  keying::RunHandler();
  // What happens, in order: the window is refreshed before each
  // transmission, and the count follows the transmission's pause.
  std::vector<Shown> steps;
  for (const auto& r : fake::Log()) {
    if (r.what == What::kPollEvent) steps.push_back({u"refresh", r.t_ms});
    if (r.what == What::kToneStart) steps.push_back({u"tone", r.t_ms});
    if (r.what == What::kCreateControl && r.number == app::kCountView && r.x == 320 &&
        !r.text.empty())
      steps.push_back({u"count" + r.text, r.t_ms});
    if (r.what == What::kCreateControl && r.number == app::kStatusLabel && r.text == u"Klart")
      steps.push_back({u"Klart", r.t_ms});
  }
  EXPECT_EQ(steps, (std::vector<Shown>{{u"refresh", 0},
                                       {u"tone", 0},
                                       {u"count 1", 2250},
                                       {u"refresh", 2250},
                                       {u"tone", 2250},
                                       {u"count 2", 4500},
                                       {u"refresh", 4500},
                                       {u"tone", 4500},
                                       {u"count 3", 6750},
                                       {u"Klart", 6750}}));
  EXPECT_EQ(keying::CountText(), u" 3");
  // RefreshWindow presents the window around its poll.
  EXPECT_EQ(fake::LogOf(What::kPresentSurface).size(), 3u);
}

TEST_F(TransmissionTest, RunOfZeroOrFewerShowsKlartAtOnceAndKeepsTheCount) {
  for (const std::u16string count : {u"0", u"-1", u"-2147483648"}) {
    SCOPED_TRACE(Utf8(count));
    SetUp();
    Fields fields;
    fields.repeat_count = u"2";
    OpenWindow(fields);
    keying::RunHandler();
    const std::int64_t before = fake::Now();
    const std::size_t sounds = fake::LogOf(What::kOpenSound).size();
    const std::size_t counts = ShownAfterCreation(app::kCountView).size();

    fake::SetFieldText(app::kRepeatCountField, count);
    keying::RunHandler();
    EXPECT_EQ(fake::Now(), before);
    EXPECT_EQ(fake::LogOf(What::kOpenSound).size(), sounds);
    EXPECT_EQ(ShownAfterCreation(app::kCountView).size(), counts);
    EXPECT_EQ(keying::CountText(), u" 2");
    EXPECT_EQ(StatusesShown().back(), (Status{520, u"Klart", before}));
  }
}

TEST_F(TransmissionTest, TestLeavesTheCountOfTheLastRun) {
  Fields fields;
  fields.repeat_count = u"1";
  OpenWindow(fields);
  keying::RunHandler();
  keying::TestHandler();
  EXPECT_EQ(ShownAfterCreation(app::kCountView).size(), 1u);
  EXPECT_EQ(keying::CountText(), u" 1");
}

TEST_F(TransmissionTest, FieldsAreReadAtEveryCommand) {
  OpenWindow({});
  keying::TestHandler();
  fake::SetFieldText(app::kUnitField, u"20");
  fake::SetFieldText(app::kMessageField, u"T");
  const std::int64_t start = fake::Now();
  keying::TestHandler();
  EXPECT_EQ(fake::Now() - start, 60 + 20 + 60 + 2000);
}

TEST_F(TransmissionTest, UnitOfZeroPassesTheMessageWithoutLength) {
  Fields fields;
  fields.unit = u"0";
  fields.message = u"TEST DE";
  fields.carrier = u"300";
  OpenWindow(fields);
  keying::TestHandler();
  EXPECT_EQ(fake::LogOf(What::kToneStart).size(), 1u + 10u);  // the carrier and ten elements
  for (const auto& r : fake::LogOf(What::kSleep)) EXPECT_GE(r.number, 0);
  EXPECT_EQ(fake::Now(), 300 + 1000 + 2000);
  EXPECT_TRUE(Shows({520, u"Klart", 0}));
}

// Escape is seen only by the dots: a release after a dot's tone ends the
// process at the next dot; one within a dash is not seen at all.
TEST_F(TransmissionTest, EscapeDuringTransmission) {
  const struct {
    const char* name;
    std::u16string message;
    std::int64_t down_ms, up_ms;
    bool ends;
    std::int64_t end_ms;
    std::size_t tones;
  } kCases[] = {
      // E: tone 0-50, snapshot at 50 sees it held; gap and letter gap to 250,
      // where the next dot's first snapshot sees it up.
      {"held over the tone's end, let go in the gap", u"EE", 20, 70, true, 250, 1},
      // Let go during the dash that follows: still the next dot's first snapshot.
      {"let go during a dash", u"ETE", 20, 300, true, 600, 2},
      {"pressed and let go within a dash", u"TE", 10, 100, false, 0, 2},
      {"held into the next dot's tone", u"EE", 20, 260, true, 300, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Fields fields;
    fields.message = c.message;
    OpenWindow(fields);
    fake::HoldEscape(c.down_ms, c.up_ms);
    if (c.ends) {
      EXPECT_THROW(keying::TestHandler(), fake::ProcessEnded);
      EXPECT_EQ(fake::Now(), c.end_ms);
      EXPECT_FALSE(Shows({520, u"Klart", 0}));
    } else {
      keying::TestHandler();
      EXPECT_TRUE(Shows({520, u"Klart", 0}));
    }
    EXPECT_EQ(fake::LogOf(What::kToneStart).size(), c.tones);
    // Every sound that was started was also stopped and released.
    EXPECT_EQ(fake::LogOf(What::kToneStop).size(), c.tones);
    EXPECT_EQ(fake::LogOf(What::kReleaseSound).size(), c.tones);
  }
}

// Values the keyer cannot key are refused before anything is keyed, naming the
// first such field on screen; values with a defined meaning are keyed.
TEST_F(TransmissionTest, ValuesThatCannotBeKeyedAreRefused) {
  const struct {
    Fields fields;
    std::u16string refusal;  // empty: keyed
  } kCases[] = {
      {{.tone = u"0"}, u"Ogiltigt värde i fältet Ton i Hertz"},
      {{.tone = u"-800"}, u"Ogiltigt värde i fältet Ton i Hertz"},
      {{.tone = u"abc"}, u"Ogiltigt värde i fältet Ton i Hertz"},
      {{.tone = u"48001"}, u""},
      {{.tone = u"1"}, u""},
      {{.unit = u"-1"}, u"Ogiltigt värde i fältet Teckenlängd i mS"},
      {{.unit = u"99999999999"}, u"Ogiltigt värde i fältet Teckenlängd i mS"},
      // 7 x 306783392 no longer fits 32 bits; 7 x 306783360 does.
      {{.unit = u"306783392", .message = u""}, u"Ogiltigt värde i fältet Teckenlängd i mS"},
      {{.unit = u"306783360", .message = u""}, u""},
      {{.unit = u"0"}, u""},
      {{.carrier = u"1", .carrier_pause = u"-1"},
       u"Ogiltigt värde i fältet Pause i mS mellan bärvåg och text"},
      {{.carrier = u"0", .carrier_pause = u"-1"}, u""},
      {{.carrier = u"-1"}, u""},
      {{.repeat_pause = u"-1"}, u"Ogiltigt värde i fältet Pause i mS mellan sändningarna"},
      {{.repeat_count = u"-1"}, u""},
      // The first bad field on screen is named.
      {{.tone = u"0", .unit = u"-1", .repeat_pause = u"-1"}, u"Ogiltigt värde i fältet Ton i Hertz"},
      {{.unit = u"-1", .carrier = u"5", .carrier_pause = u"-1"},
       u"Ogiltigt värde i fältet Teckenlängd i mS"},
      {{.carrier = u"5", .carrier_pause = u"-1", .repeat_pause = u"-1"},
       u"Ogiltigt värde i fältet Pause i mS mellan bärvåg och text"},
  };
  for (bool run : {false, true}) {
    for (const auto& c : kCases) {
      const Fields& f = c.fields;
      SCOPED_TRACE(testing::Message()
                   << (run ? "Run" : "Test") << " with tone " << Utf8(f.tone)
                   << ", unit " << Utf8(f.unit) << ", carrier "
                   << Utf8(f.carrier) << "/"
                   << Utf8(f.carrier_pause) << ", pause "
                   << Utf8(f.repeat_pause));
      SetUp();
      OpenWindow(f);
      run ? keying::RunHandler() : keying::TestHandler();
      if (c.refusal.empty()) {
        EXPECT_TRUE(fake::MessageBoxes().empty());
        EXPECT_TRUE(Shows({520, u"Klart", 0}));
        continue;
      }
      using Box = std::pair<std::u16string, std::u16string>;
      EXPECT_EQ(fake::MessageBoxes(), (std::vector<Box>{{u"Åtgärd:", c.refusal}}));
      // Nothing keyed, nothing shown, nothing slept; the fields as typed.
      EXPECT_TRUE(fake::LogOf(What::kOpenSound).empty());
      EXPECT_TRUE(fake::LogOf(What::kSleep).empty());
      EXPECT_TRUE(fake::LogOf(What::kPollEvent).empty());
      EXPECT_TRUE(StatusesShown().empty());
      EXPECT_TRUE(ShownAfterCreation(app::kSentTextView).empty());
      EXPECT_TRUE(ShownAfterCreation(app::kCountView).empty());
      EXPECT_EQ(fake::ControlByNumber(app::kToneField)->text, f.tone);
      EXPECT_EQ(fake::ControlByNumber(app::kUnitField)->text, f.unit);
      EXPECT_EQ(fake::ControlByNumber(app::kCarrierPauseField)->text, f.carrier_pause);
      EXPECT_EQ(fake::ControlByNumber(app::kRepeatPauseField)->text, f.repeat_pause);
    }
  }
}

}  // namespace
