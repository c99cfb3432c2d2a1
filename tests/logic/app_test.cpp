// The shell against the fake platform: start-up order and its two checks, the
// event loop, the Escape snapshot rule, the window's controls and the
// label-replacing displays.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/shell.h"
#include "app/window.h"
#include "fixture.h"

namespace {

using fake::What;
using platform::ControlKind;
using platform::Event;

Event Control(int number) { return {true, number}; }
Event Other() { return {false, 0}; }

// Runs each test in an empty temporary working directory, where the settings
// file is created.
class AppTest : public LogicTest {
 protected:
  void SetUp() override {
    LogicTest::SetUp();
    old_dir_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("marlivox-app-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_dir_);
    std::filesystem::remove_all(dir_);
  }

  // Runs the whole program until the process would end.
  static void RunMain() { EXPECT_THROW(app::Main(), fake::ProcessEnded); }

  std::filesystem::path old_dir_, dir_;
};

std::vector<What> Kinds(std::initializer_list<What> keep) {
  std::vector<What> out;
  for (const auto& r : fake::Log())
    if (std::find(keep.begin(), keep.end(), r.what) != keep.end()) out.push_back(r.what);
  return out;
}

TEST_F(AppTest, StartsInOrderAndQuitClosesTheWindowFirst) {
  fake::QueueEvents({{Control(app::kQuitButton)}});
  RunMain();
  EXPECT_EQ(Kinds({What::kInitAdapters, What::kPrepareSurface, What::kPrepareInput,
                   What::kCreateFont, What::kOpenWindow, What::kWaitEvent,
                   What::kCloseWindow, What::kEndProcess}),
            (std::vector<What>{What::kInitAdapters, What::kPrepareSurface,
                               What::kPrepareInput, What::kCreateFont, What::kCreateFont,
                               What::kOpenWindow, What::kWaitEvent, What::kCloseWindow,
                               What::kEndProcess}));
  // The settings file was made before the fields, which show its texts.
  EXPECT_TRUE(std::filesystem::exists("marlivox.cnf"));
  auto windows = fake::LogOf(What::kOpenWindow);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].text, u"MARLIVOX ver. 024" + std::u16string(90, u' '));
  EXPECT_EQ(windows[0].w, 1280);
  EXPECT_EQ(windows[0].h, 800);
  EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(AppTest, AFailedStartupStepShowsOnlyItsMessageAndOpensNoWindow) {
  struct Case {
    bool surface_ok, input_ok;
    const char16_t* message;
    bool input_tried;
  } cases[] = {
      {false, true, u"PrepareSurface() command failed.", false},
      {false, false, u"PrepareSurface() command failed.", false},
      {true, false, u"PrepareInput() command failed.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.message, c.message + 14));
    fake::Reset();
    app::ResetForTesting();
    fake::SetPrepareSurfaceResult(c.surface_ok);
    fake::SetPrepareInputResult(c.input_ok);
    RunMain();
    EXPECT_EQ(fake::MessageBoxes(),
              (std::vector<std::pair<std::u16string, std::u16string>>{{u"Error", c.message}}));
    EXPECT_EQ(fake::LogOf(What::kPrepareInput).size(), c.input_tried ? 1u : 0u);
    EXPECT_TRUE(fake::LogOf(What::kOpenWindow).empty());
    EXPECT_TRUE(fake::LogOf(What::kCreateControl).empty());
    EXPECT_FALSE(std::filesystem::exists("marlivox.cnf"));
  }
}

// One snapshot per step: whether the window is in front and whether Escape is
// physically down, and what EscapeReleased must answer.
struct Snapshot {
  bool foreground;
  bool escape_down;
  bool released;
};

TEST_F(AppTest, EscapeReleaseIsReportedOnceAndForgottenWhenAReadFails) {
  struct Case {
    const char* name;
    std::vector<Snapshot> steps;
  } cases[] = {
      {"press then release", {{true, true, false}, {true, false, true}, {true, false, false}}},
      {"never pressed", {{true, false, false}, {true, false, false}}},
      {"held stays held", {{true, true, false}, {true, true, false}, {true, false, true}}},
      {"released in the background is not seen",
       {{true, true, false}, {false, false, false}, {true, false, false}}},
      {"held while coming to the front, then let go",
       {{false, true, false}, {true, true, false}, {true, false, true}}},
      {"a failed read forgets a held key even if the window is back at once",
       {{true, true, false}, {false, true, false}, {true, false, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    app::ResetForTesting();
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      fake::SetForeground(c.steps[i].foreground);
      fake::SetEscapeDown(c.steps[i].escape_down);
      EXPECT_EQ(app::EscapeReleased(), c.steps[i].released);
    }
  }
}

TEST_F(AppTest, AClickAndAnEscapeReleaseInOneWakeUpEndWithoutHandlingTheClick) {
  fake::QueueEvents({{Other(), true}, {Control(app::kTestButton), false}});
  RunMain();
  EXPECT_EQ(fake::LogOf(What::kWaitEvent).size(), 2u);
  EXPECT_TRUE(fake::LogOf(What::kCloseWindow).empty());  // Escape does not close first
  EXPECT_TRUE(fake::TextsShown(app::kStatusLabel).size() == 1);  // only the initial empty one
  EXPECT_TRUE(fake::LogOf(What::kSleep).empty());
  EXPECT_TRUE(fake::LogOf(What::kOpenSound).empty());
}

TEST_F(AppTest, InputFieldEventsAndOtherEventsChangeNothing) {
  std::vector<fake::ScriptedEvent> events;
  for (int field : {17, 19, 21, 23, 25, 27, 29}) events.push_back({Control(field)});
  events.push_back({Other()});  // a close request is only an other event
  events.push_back({Control(app::kQuitButton)});
  fake::QueueEvents(events);
  RunMain();
  std::filesystem::path file = "marlivox.cnf";
  auto created = fake::LogOf(What::kCreateControl).size();
  EXPECT_EQ(created, 26u);  // the banner and the 25 controls, nothing replaced
  EXPECT_TRUE(fake::LogOf(What::kDestroyControl).empty());
  EXPECT_TRUE(fake::MessageBoxes().empty());
  EXPECT_TRUE(fake::LogOf(What::kSleep).empty());
  EXPECT_EQ(fake::LogOf(What::kReadKeyboard).size(), 9u);  // a snapshot at every wake-up
}

TEST_F(AppTest, ControlsAreCreatedInOrderWithTheirPlacesTextsFontsAndColours) {
  // Every key has its own value, so the crossing of fields 25 and 27 shows.
  std::ofstream("marlivox.cnf", std::ios::binary)
      << "MV001    1\r\nMV002    2\r\nMV003    Tre & tre\r\nMV004    4\r\n"
         "MV005    5\r\nMV006    6\r\nMV007    7\r\n";
  app::LoadFonts();
  app::OpenMainWindow();
  settings::LoadSettings();
  app::CreateControls();

  struct Row {
    int number;
    ControlKind kind;
    int x, y, w, h;
    std::u16string text;
    bool grey;
  };
  const std::vector<Row> expected = {
      {9, ControlKind::kLabel, 400, 30, 600, 30, u"MARLIVOX by VALMERA", true},
      {14, ControlKind::kLabel, 120, 140, 600, 20, u"Fyll i alla fält med relevant information!", true},
      {15, ControlKind::kLabel, 120, 170, 600, 20, u"Avbryt ej färdig utsändning med Escape!", true},
      {16, ControlKind::kLabel, 120, 280, 200, 20, u"Ton i Hertz", false},
      {17, ControlKind::kInputField, 320, 280, 50, 20, u"1", false},
      {18, ControlKind::kLabel, 120, 310, 200, 20, u"Teckenlängd i mS", false},
      {19, ControlKind::kInputField, 320, 310, 50, 20, u"2", false},
      {20, ControlKind::kLabel, 120, 340, 200, 20, u"Text du vill sända", false},
      {21, ControlKind::kUpperCaseField, 320, 340, 800, 20, u"Tre & tre", false},
      {11, ControlKind::kLabel, 120, 370, 200, 20, u"Aktuell text som sänds just nu", false},
      {10, ControlKind::kBorderedLabel, 320, 370, 800, 20, u"", false},
      {22, ControlKind::kLabel, 120, 400, 200, 20, u"Ev. bärvåg i mS före texten", false},
      {23, ControlKind::kInputField, 320, 400, 50, 20, u"4", false},
      {24, ControlKind::kLabel, 120, 430, 200, 20, u"Pause i mS mellan bärvåg och text", false},
      {25, ControlKind::kInputField, 320, 430, 50, 20, u"7", false},
      {26, ControlKind::kLabel, 120, 460, 200, 20, u"Pause i mS mellan sändningarna", false},
      {27, ControlKind::kInputField, 320, 460, 50, 20, u"5", false},
      {28, ControlKind::kLabel, 120, 490, 200, 20, u"Antal utsändningar du vill köra", false},
      {29, ControlKind::kInputField, 320, 490, 50, 20, u"6", false},
      {12, ControlKind::kLabel, 120, 520, 200, 20, u"Antal körda utsändningar ", false},
      {13, ControlKind::kBorderedLabel, 320, 520, 50, 20, u"", false},
      {8, ControlKind::kLabel, 420, 520, 200, 20, u"", false},
      {36, ControlKind::kButton, 120, 600, 100, 20, u"Spara", false},
      {37, ControlKind::kButton, 250, 600, 100, 20, u"Test", false},
      {38, ControlKind::kButton, 380, 600, 100, 20, u"Kör", false},
      {39, ControlKind::kButton, 510, 600, 100, 20, u"Avsluta", false},
  };
  const auto& controls = fake::Controls();
  ASSERT_EQ(controls.size(), expected.size());
  auto fonts = fake::LogOf(What::kCreateFont);
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_EQ(fonts[0].text, u"Verdana");
  EXPECT_EQ(fonts[0].number, 16);
  EXPECT_TRUE(fonts[0].flag);
  EXPECT_EQ(fonts[1].text, u"Verdana");
  EXPECT_EQ(fonts[1].number, 10);
  EXPECT_TRUE(fonts[1].flag);
  for (size_t i = 0; i < expected.size(); ++i) {
    const Row& e = expected[i];
    const fake::Control& c = controls[i];
    SCOPED_TRACE(e.number);
    EXPECT_EQ(c.number, e.number);
    EXPECT_EQ(c.kind, e.kind);
    EXPECT_EQ(std::vector<int>({c.x, c.y, c.w, c.h}), std::vector<int>({e.x, e.y, e.w, e.h}));
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.color, e.grey ? 0x646464u : 0u);
    int want_font = e.number == 9 ? fonts[0].handle : (e.grey ? fonts[1].handle : 0);
    EXPECT_EQ(c.font, want_font);
  }
  // The surface is white and open for drawing before the banner is made.
  EXPECT_EQ(Kinds({What::kOpenWindow, What::kOpenSurface, What::kClearSurface,
                   What::kBeginDraw, What::kCreateControl})
                .front(),
            What::kOpenWindow);
  EXPECT_EQ(fake::LogOf(What::kClearSurface).at(0).number, 0xFFFFFF);
}

TEST_F(AppTest, ReplacingALabelLeavesExactlyOneControlWithItsNumber) {
  app::LoadFonts();
  app::OpenMainWindow();
  app::CreateControls();
  ASSERT_NE(fake::ControlByNumber(app::kStatusLabel), nullptr);
  EXPECT_EQ(fake::ControlByNumber(app::kStatusLabel)->x, 420);

  struct Step {
    const char* name;
    void (*show)();
    int number;
    int x, y, w, h;
    ControlKind kind;
    std::u16string text;
  } steps[] = {
      {"status with text", [] { app::ShowStatus(460, u"Pause mellan utsändningarna"); }, 8, 390, 460, 200, 20, ControlKind::kLabel, u"Pause mellan utsändningarna"},
      {"status emptied stays on its row", [] { app::ShowStatus(460, u""); }, 8, 390, 460, 200, 20, ControlKind::kLabel, u""},
      {"status moves to another row", [] { app::ShowStatus(520, u"Klart"); }, 8, 390, 520, 200, 20, ControlKind::kLabel, u"Klart"},
      {"sent text", [] { app::ShowSentText(u" A&B"); }, 10, 320, 370, 800, 20, ControlKind::kBorderedLabel, u" A&B"},
      {"count", [] { app::ShowCount(u" 3"); }, 13, 320, 520, 50, 20, ControlKind::kBorderedLabel, u" 3"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    size_t before = fake::Log().size();
    s.show();
    EXPECT_EQ(fake::LiveControlsWithNumber(s.number), 1);
    const fake::Control* c = fake::ControlByNumber(s.number);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::vector<int>({c->x, c->y, c->w, c->h}), std::vector<int>({s.x, s.y, s.w, s.h}));
    EXPECT_EQ(c->kind, s.kind);
    EXPECT_EQ(c->text, s.text);
    EXPECT_EQ(c->font, 0);
    EXPECT_EQ(c->color, 0u);
    // The new label comes first, then the old one goes.
    ASSERT_EQ(fake::Log().size(), before + 2);
    EXPECT_EQ(fake::Log()[before].what, What::kCreateControl);
    EXPECT_EQ(fake::Log()[before + 1].what, What::kDestroyControl);
    EXPECT_EQ(fake::Log()[before + 1].number, s.number);
  }
}

TEST_F(AppTest, RefreshWindowPresentsAndDiscardsOneWaitingEvent) {
  fake::QueueEvents({{Control(app::kSaveButton)}, {Control(app::kQuitButton)}});
  app::RefreshWindow();
  EXPECT_EQ(Kinds({What::kEndDraw, What::kPresentSurface, What::kPollEvent, What::kBeginDraw}),
            (std::vector<What>{What::kEndDraw, What::kPresentSurface, What::kPollEvent,
                               What::kBeginDraw}));
  EXPECT_TRUE(fake::MessageBoxes().empty());  // the save click was discarded, not handled
  // The next event is the one after it.
  platform::Event next = platform::WaitEvent();
  EXPECT_EQ(next.number, app::kQuitButton);
}

TEST_F(AppTest, FieldCaptionsNameTheInputFields) {
  EXPECT_EQ(app::FieldCaption(17), u"Ton i Hertz");
  EXPECT_EQ(app::FieldCaption(25), u"Pause i mS mellan bärvåg och text");
  EXPECT_EQ(app::FieldCaption(27), u"Pause i mS mellan sändningarna");
  EXPECT_EQ(app::FieldCaption(8), u"");
}

}  // namespace
