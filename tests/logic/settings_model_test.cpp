// The settings model: loading at start-up, the fields read for Test and Run,
// and Save, against real files and the fake window.

#include <sys/file.h>

#include <string>
#include <vector>

#include "app/window.h"
#include "fake/fake_platform.h"
#include "logic/settings_fixture.h"
#include "settings/settings_file.h"
#include "settings/settings_model.h"

namespace {

using platform::files::FaultAction;
using platform::files::ReplaceStep;
using Box = std::pair<std::u16string, std::u16string>;


const Box kSaved = {u"Åtgärd:", u"Data sparade i filen marlivox.cnf"};
const Box kNotSaved = {u"Åtgärd:", u"Data kunde inte sparas i filen marlivox.cnf"};
const Box kCouldNotOpen = {u"Information", u"Couldn't open the file"};

constexpr int kFields[] = {17, 19, 21, 23, 25, 27, 29};

class SettingsModelTest : public SettingsDirTest {
 protected:
  // Start-up as the shell does it, up to the event loop.
  static void StartUp() {
    app::LoadFonts();
    app::OpenMainWindow();
    settings::LoadSettings();
    app::CreateControls();
  }

  // A second start of the keyer in the same directory.
  static void Restart() {
    fake::Reset();
    app::ResetForTesting();
    settings::ResetForTesting();
    StartUp();
  }

  static std::vector<std::u16string> FieldTexts() {
    std::vector<std::u16string> texts;
    for (int number : kFields) {
      const fake::Control* control = fake::ControlByNumber(number);
      texts.push_back(control ? control->text : u"<no field>");
    }
    return texts;
  }
};

const std::vector<std::u16string> kDefaultFields = {
    u"800", u"50", u"TEST DE QZ0XYZ =", u"4000", u"1000", u"2000", u"73"};

TEST_F(SettingsModelTest, FirstStartWritesTheDefaultsAndShowsThem) {
  StartUp();
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
  EXPECT_EQ(FieldTexts(), kDefaultFields);
  const std::array<std::u16string, 10> texts = {
      u"800", u"50", u"TEST DE QZ0XYZ =", u"4000", u"2000", u"73", u"1000",
      u"vakant", u"vakant", u"vakant"};
  EXPECT_EQ(settings::SettingTexts(), texts);
  EXPECT_EQ(settings::MessageText(), u"TEST DE QZ0XYZ =");
  EXPECT_TRUE(fake::MessageBoxes().empty());
  for (const auto& row : settings::SettingsTable()) {
    EXPECT_TRUE(row.key.empty());
    EXPECT_TRUE(row.value.empty());
  }
}

// An existing file is only read at start-up, whatever it holds, and missing
// keys take the text of the key looked up before them.
TEST_F(SettingsModelTest, AnExistingFileIsReadAndNotWritten) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::u16string> fields;
  } cases[] = {
      {"defaults", kDefaultFile, kDefaultFields},
      {"without MV002", "MV001    800\r\nMV003    M\r\nMV004    4\r\nMV005    5\r\n"
                        "MV006    6\r\nMV007    7\r\n",
       {u"800", u"800", u"M", u"4", u"7", u"5", u"6"}},
      {"only MV003", "MV003    HELLO\r\n",
       {u"", u"", u"HELLO", u"HELLO", u"HELLO", u"HELLO", u"HELLO"}},
      {"crossed fields", "MV005    five\r\nMV007    seven\r\n",
       {u"", u"", u"", u"", u"seven", u"five", u"five"}},
      {"empty", "", {u"", u"", u"", u"", u"", u"", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes("marlivox.cnf", c.bytes);
    Restart();
    EXPECT_EQ(FieldTexts(), c.fields);
    EXPECT_EQ(ReadBytes("marlivox.cnf"), c.bytes);
    EXPECT_TRUE(fake::MessageBoxes().empty());
  }
}

// Held by another keyer at start-up: the existence test fails, the default
// lines cannot be added either, and each of the ten lookups says so.
TEST_F(SettingsModelTest, AFileHeldByAnotherKeyerAtStartUpGivesTenBoxesAndEmptyFields) {
  WriteBytes("marlivox.cnf", kDefaultFile);
  const int holder = open("marlivox.cnf", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  StartUp();
  close(holder);
  EXPECT_EQ(fake::MessageBoxes(), std::vector<Box>(10, kCouldNotOpen));
  EXPECT_EQ(FieldTexts(), std::vector<std::u16string>(7, u""));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
}

TEST_F(SettingsModelTest, SaveRightAfterTheFirstStartLeavesTheSevenLinesAndThreeEmptyOnes) {
  StartUp();
  settings::SaveSettings();
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
  EXPECT_EQ(fake::MessageBoxes(), std::vector<Box>{kSaved});

  Restart();
  EXPECT_EQ(FieldTexts(), kDefaultFields);
  EXPECT_EQ(settings::SettingTexts()[7], u"1000");  // MV008 to MV010 now carry MV007
  EXPECT_EQ(settings::SettingTexts()[9], u"1000");
}

TEST_F(SettingsModelTest, SaveWritesTheFieldsAsTypedThroughTheCrossing) {
  StartUp();
  settings::SetForTesting({1, 2, 3, 4, 5, 6}, u"old");
  fake::SetFieldText(17, u"abc");
  fake::SetFieldText(19, u"");
  fake::SetFieldText(21, u"  CQ CQ \u00C5 ");
  fake::SetFieldText(23, u"1,5");
  fake::SetFieldText(25, u"twenty-five");
  fake::SetFieldText(27, u"twenty-seven");
  fake::SetFieldText(29, u"-3");
  // The table is filled while the confirmation is up, and empty afterwards.
  std::u16string row_5_during_the_box;
  fake::OnMessageBox([&](const std::u16string&, const std::u16string&) {
    row_5_during_the_box = settings::SettingsTable()[4].value;
  });
  settings::SaveSettings();

  EXPECT_EQ(ReadBytes("marlivox.cnf"),
            "MV001    abc\r\n"
            "MV002    \r\n"
            "MV003      CQ CQ \xC3\x85 \r\n"
            "MV004    1,5\r\n"
            "MV005    twenty-seven\r\n"
            "MV006    -3\r\n"
            "MV007    twenty-five\r\n"
            "         \r\n"
            "         \r\n"
            "         \r\n");
  EXPECT_EQ(row_5_during_the_box, u"twenty-seven");
  for (const auto& row : settings::SettingsTable()) EXPECT_TRUE(row.value.empty());
  const std::array<std::u16string, 10> texts = {
      u"abc", u"", u"  CQ CQ \u00C5 ", u"1,5", u"twenty-seven", u"-3", u"twenty-five",
      u"vakant", u"vakant", u"vakant"};
  EXPECT_EQ(settings::SettingTexts(), texts);
  EXPECT_EQ(settings::MessageText(), u"  CQ CQ \u00C5 ");
  EXPECT_EQ(settings::Current().ToneHz, 1);  // Save converts nothing
  EXPECT_EQ(settings::Current().CarrierPauseMs, 6);

  Restart();
  EXPECT_EQ(FieldTexts(), (std::vector<std::u16string>{u"abc", u"", u"  CQ CQ \u00C5 ", u"1,5",
                                                        u"twenty-five", u"twenty-seven", u"-3"}));
}

// A save that cannot write says so, and the old file stays as it was.
TEST_F(SettingsModelTest, AFailedSaveSaysSoAndKeepsTheOldFile) {
  StartUp();
  fake::SetFieldText(17, u"900");
  platform::files::InjectFaultForTesting(ReplaceStep::kHalfWritten, FaultAction::kFail);
  settings::SaveSettings();
  EXPECT_EQ(fake::MessageBoxes(), std::vector<Box>{kNotSaved});
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
  EXPECT_FALSE(Exists("marlivox.cnf.tmp"));

  // Held by another keyer: the same.
  const int holder = open("marlivox.cnf", O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  settings::SaveSettings();
  close(holder);
  EXPECT_EQ(fake::MessageBoxes(), (std::vector<Box>{kNotSaved, kNotSaved}));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);

  settings::SaveSettings();
  EXPECT_EQ(fake::MessageBoxes().back(), kSaved);
  EXPECT_EQ(ReadBytes("marlivox.cnf")->substr(0, 14), "MV001    900\r\n");
}

TEST_F(SettingsModelTest, ReadFieldsIntoSettingsConvertsTheSixNumbersAndTakesTheMessage) {
  StartUp();
  fake::SetFieldText(17, u"440.5");
  fake::SetFieldText(19, u" 60 ms");
  fake::SetFieldText(21, u"CQ DE SM0ABC ");
  fake::SetFieldText(23, u"NaN");
  fake::SetFieldText(25, u"25");
  fake::SetFieldText(27, u"27");
  fake::SetFieldText(29, u"x");
  settings::ReadFieldsIntoSettings();
  const settings::Numbers& n = settings::Current();
  EXPECT_EQ(n.ToneHz, 440);
  EXPECT_EQ(n.UnitMs, 60);
  EXPECT_EQ(n.CarrierMs, -2147483648);
  EXPECT_EQ(n.CarrierPauseMs, 25);
  EXPECT_EQ(n.RepeatPauseMs, 27);
  EXPECT_EQ(n.RepeatCount, 0);
  EXPECT_EQ(settings::MessageText(), u"CQ DE SM0ABC ");
  EXPECT_EQ(settings::SettingTexts()[0], u"800");  // only MV003 follows the fields
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
  EXPECT_TRUE(fake::MessageBoxes().empty());
}

}  // namespace
