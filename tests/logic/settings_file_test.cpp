// The settings file: the bytes the writer produces, the lookup of one key,
// exclusive access, and the replace that never leaves a half-written file.

#include <sys/file.h>

#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "logic/settings_fixture.h"
#include "settings/settings_file.h"

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using platform::files::FaultAction;
using platform::files::ReplaceStep;
using settings::OpenMode;

void FillTable(bool with_reserved_rows) {
  const char16_t* rows[10][2] = {
      {u"MV001", u"800"},  {u"MV002", u"50"},     {u"MV003", u"TEST DE QZ0XYZ ="},
      {u"MV004", u"4000"}, {u"MV005", u"2000"},   {u"MV006", u"73"},
      {u"MV007", u"1000"}, {u"MV008", u"vakant"}, {u"MV009", u"vakant"},
      {u"MV010", u"vakant"}};
  settings::ClearSettingsTable();
  const int count = with_reserved_rows ? 10 : 7;
  for (int r = 0; r < count; ++r) settings::SettingsTable()[r] = {rows[r][0], rows[r][1]};
}

int BoxCount() { return static_cast<int>(fake::MessageBoxes().size()); }

class SettingsFileTest : public SettingsDirTest {};

// ---- Writing ---------------------------------------------------------------------

TEST_F(SettingsFileTest, DefaultsMakeTenLinesOf163Bytes) {
  ASSERT_EQ(kDefaultFile.size(), 163u);
  FillTable(true);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Append));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
}

TEST_F(SettingsFileTest, EmptyRowsAreNineSpaces) {
  ASSERT_EQ(kSavedDefaults.size(), 145u);
  FillTable(false);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
}

TEST_F(SettingsFileTest, AppendKeepsExistingBytesInFrontAndItsLinesWinLater) {
  const std::string old = "MV001    9\r\nnot a setting\xFF\n";
  WriteBytes("marlivox.cnf", old);
  FillTable(true);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Append));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), old + kDefaultFile);
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"800");
}

TEST_F(SettingsFileTest, ReplaceOnALongerFileLeavesExactlyTheTenLines) {
  WriteBytes("marlivox.cnf", kDefaultFile + std::string(5000, 'x') + "\r\nMV001    1\r\n");
  FillTable(false);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
  EXPECT_FALSE(Exists("marlivox.cnf.tmp"));
}

TEST_F(SettingsFileTest, KeysArePaddedInCodeUnitsAndLineBreaksCannotSplitARow) {
  struct Case {
    std::u16string key, value;
    std::string bytes;
  } cases[] = {
      {u"LONGKEY123", u"v", "LONGKEY123v\r\n"},       // nine or more: written whole
      {u"NINECHARS", u"v", "NINECHARSv\r\n"},
      {u"\u00C5", u"", "\xC3\x85        \r\n"},          // one unit, two bytes: 8 spaces
      {u"\U0001F3B5", u"x", "\xF0\x9F\x8E\xB5       x\r\n"},  // two units: 7 spaces
      {u"K", u"a\r\nb\nc\rd", "K        a  b c d\r\n"},   // stays one line
      {u"K", u"lone \xD800 half", "K        lone \xEF\xBF\xBD half\r\n"},
      {u"", u"  spaced  ", "           spaced  \r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    settings::ClearSettingsTable();
    settings::SettingsTable()[0] = {c.key, c.value};
    ASSERT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
    std::string nine_empty_rows;
    for (int r = 0; r < 9; ++r) nine_empty_rows += "         \r\n";
    EXPECT_EQ(ReadBytes("marlivox.cnf"), c.bytes + nine_empty_rows);
  }
}

TEST_F(SettingsFileTest, ReplaceThroughASymbolicLinkReplacesTheTargetAndKeepsTheLink) {
  std::filesystem::create_directory("real");
  WriteBytes("real/settings.cnf", kDefaultFile);
  std::filesystem::create_symlink("real/settings.cnf", "marlivox.cnf");
  FillTable(false);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_TRUE(std::filesystem::is_symlink("marlivox.cnf"));
  EXPECT_EQ(std::filesystem::read_symlink("marlivox.cnf"), "real/settings.cnf");
  EXPECT_EQ(ReadBytes("real/settings.cnf"), kSavedDefaults);
  EXPECT_FALSE(Exists("real/settings.cnf.tmp"));
  EXPECT_FALSE(Exists("marlivox.cnf.tmp"));
}

TEST_F(SettingsFileTest, ReplaceKeepsThePermissionBits) {
  for (mode_t mode : {0600, 0640, 0604}) {
    SCOPED_TRACE(mode);
    WriteBytes("marlivox.cnf", kDefaultFile);
    ASSERT_EQ(chmod("marlivox.cnf", mode), 0);
    FillTable(false);
    EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
    struct stat st {};
    ASSERT_EQ(stat("marlivox.cnf", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
  }
}

// What its user could not write in place is not replaced: a read-only file
// (in a directory where the rename itself would have worked) and a file in a
// directory that does not let the temporary file be made.
TEST_F(SettingsFileTest, ReplaceFailsWhereTheUserCannotWrite) {
  struct Case {
    const char* name;
    mode_t file_mode, dir_mode;
  } cases[] = {{"read-only file", 0444, 0777}, {"read-only directory", 0666, 0555}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directory(c.name);
    const std::string path = std::string(c.name) + "/marlivox.cnf";
    WriteBytes(path, kDefaultFile);
    ASSERT_EQ(chmod(path.c_str(), c.file_mode), 0);
    ASSERT_EQ(chmod(c.name, c.dir_mode), 0);
    if (geteuid() == 0) {
      ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
      ASSERT_EQ(chown(c.name, 65534, 65534), 0);
    }
    const int status = RunInChild(
        [&] {
          if (chdir(c.name) != 0) return 98;
          FillTable(false);
          return settings::WriteSettingsFile(OpenMode::Replace) ? 1 : 0;
        },
        /*as_other_user=*/true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(path), kDefaultFile);
    EXPECT_FALSE(Exists(path + ".tmp"));
  }
}

// A fault between the steps of the replace: a failing step leaves the old
// file and no temporary file; a kill leaves the old file (or, once renamed,
// the new one) whole, and the next save goes through.
TEST_F(SettingsFileTest, AFaultAtAnyStepOfTheReplaceLeavesOneWholeFile) {
  struct Case {
    ReplaceStep step;
    bool renamed;
  } cases[] = {{ReplaceStep::kTempCreated, false}, {ReplaceStep::kHalfWritten, false},
               {ReplaceStep::kBeforeSync, false},  {ReplaceStep::kBeforeRename, false},
               {ReplaceStep::kAfterRename, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    const std::string old = kDefaultFile + "MV011    old\r\n";

    WriteBytes("marlivox.cnf", old);
    FillTable(false);
    platform::files::InjectFaultForTesting(c.step, FaultAction::kFail);
    EXPECT_EQ(settings::WriteSettingsFile(OpenMode::Replace), c.renamed);
    EXPECT_EQ(ReadBytes("marlivox.cnf"), c.renamed ? kSavedDefaults : old);
    EXPECT_FALSE(Exists("marlivox.cnf.tmp"));

    WriteBytes("marlivox.cnf", old);
    const int status = RunInChild([&] {
      platform::files::InjectFaultForTesting(c.step, FaultAction::kKill);
      settings::WriteSettingsFile(OpenMode::Replace);
      return 0;
    });
    EXPECT_EQ(status, -SIGKILL);
    EXPECT_EQ(ReadBytes("marlivox.cnf"), c.renamed ? kSavedDefaults : old);

    // A temporary file left by the kill is taken over by the next save.
    EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
    EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
    EXPECT_FALSE(Exists("marlivox.cnf.tmp"));
  }
}

TEST_F(SettingsFileTest, ReplaceCreatesAMissingFile) {
  FillTable(false);
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
}

// ---- Exclusive access ----------------------------------------------------------------

// Another holder of the lock (another open of the file, as another keyer
// would have) makes the lookup fail with its box and every write do nothing.
TEST_F(SettingsFileTest, AFileHeldByAnotherOpenerCanBeNeitherReadNorWritten) {
  WriteBytes("marlivox.cnf", kDefaultFile);
  ASSERT_EQ(settings::LookupSetting(u"MV002"), u"50");
  const int holder = open("marlivox.cnf", O_RDONLY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"50");
  EXPECT_EQ(BoxCount(), 1);
  EXPECT_FALSE(platform::files::CanOpenForReading("marlivox.cnf"));
  FillTable(false);
  EXPECT_FALSE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_FALSE(settings::WriteSettingsFile(OpenMode::Append));
  EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
  EXPECT_FALSE(Exists("marlivox.cnf.tmp"));

  close(holder);
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"800");
  EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
  EXPECT_EQ(BoxCount(), 1);
}

// The same with the lock in another process, and a save that is under way
// there (it holds the temporary file): nothing interleaves.
TEST_F(SettingsFileTest, AnotherProcessHoldingTheFileOrTheTemporaryFileBlocksAWrite) {
  for (const char* held : {"marlivox.cnf", "marlivox.cnf.tmp"}) {
    SCOPED_TRACE(held);
    WriteBytes("marlivox.cnf", kDefaultFile);
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(held, O_RDWR | O_CREAT, 0600);
      char c = flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &c, 1);
      (void)!read(release[0], &c, 1);
      _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    FillTable(false);
    EXPECT_FALSE(settings::WriteSettingsFile(OpenMode::Replace));
    EXPECT_EQ(ReadBytes("marlivox.cnf"), kDefaultFile);
    (void)!write(release[1], "x", 1);
    waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
    EXPECT_TRUE(settings::WriteSettingsFile(OpenMode::Replace));
    EXPECT_EQ(ReadBytes("marlivox.cnf"), kSavedDefaults);
    EXPECT_FALSE(Exists("marlivox.cnf.tmp"));
  }
}

// ---- Lookup ----------------------------------------------------------------------------

// Each case starts with "before" as the previous lookup's result, so a line
// that does not match shows as "before" and an empty value as "".
TEST_F(SettingsFileTest, LookupFindsTheKeyFieldExactly) {
  const std::u16string before = u"before";
  const std::string long_value(1'000'000, 'v');
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string key, expected;
  } cases[] = {
      {"plain", "MV001    800\r\n", u"MV001", u"800"},
      {"duplicate key: the later line wins", "MV001    1\r\nMV002    x\r\nMV001    2\r\n",
       u"MV001", u"2"},
      {"lower-case key", "mv001    800\r\n", u"MV001", before},
      {"space before the key", " MV001    800\r\n", u"MV001", before},
      {"key, one space, value", "MV001 800\r\n", u"MV001", before},
      {"key, one space, long value", "MV001 800000\r\n", u"MV001", before},
      {"key and a tab", "MV001\t800\r\n", u"MV001", before},
      {"key, tab, spaces", "MV001\t    800\r\n", u"MV001", before},
      {"key field of nine letters", "MV001xxxx800\r\n", u"MV001", before},
      {"the key alone", "MV001", u"MV001", u""},
      {"the key alone with a line end", "MV001\r\n", u"MV001", u""},
      {"the key and four spaces", "MV001    ", u"MV001", u""},
      {"the key and four spaces with a line end", "MV001    \n", u"MV001", u""},
      {"trailing spaces kept", "MV001    800  \r\n", u"MV001", u"800  "},
      {"leading spaces kept", "MV001      800\r\n", u"MV001", u"  800"},
      {"a shorter key", "MV00     800\r\n", u"MV001", before},
      {"an empty file", "", u"MV001", before},
      {"LF only", "MV002    a\nMV001    800\nMV003    c\n", u"MV001", u"800"},
      {"CR only", "MV002    a\rMV001    800\rMV003    c\r", u"MV001", u"800"},
      {"mixed line ends", "MV002    a\rMV001    800\nMV003    c\r\nMV004    d", u"MV001",
       u"800"},
      {"CR then a line at once", "MV001    1\rMV002    2", u"MV002", u"2"},
      {"no final line end", "MV001    1\r\nMV002    2", u"MV002", u"2"},
      {"empty lines between", "\r\n\n\rMV002    2\r\n\r\n", u"MV002", u"2"},
      {"byte-order mark hides the first key", "\xEF\xBB\xBFMV001    800\r\nMV002    50\r\n",
       u"MV001", before},
      {"byte-order mark, later line found", "\xEF\xBB\xBFMV001    800\r\nMV002    50\r\n",
       u"MV002", u"50"},
      {"non-ASCII value", "MV003    \xC3\x85sa \xF0\x9F\x8E\xB5\r\n", u"MV003",
       u"\u00C5sa \U0001F3B5"},
      {"malformed UTF-8 becomes U+FFFD per broken sequence",
       "MV001    a\xFF" "b\xE2\x82" "c\xC0\xAF" "d\xED\xA0\x80" "e\x80\r\n", u"MV001",
       u"a\uFFFDb\uFFFDc\uFFFD\uFFFDd\uFFFD\uFFFD\uFFFDe\uFFFD"},
      {"a broken sequence at the end of the file", "MV001    x\xF0\x9F\x8E", u"MV001",
       u"x\uFFFD"},
      {"a broken sequence does not swallow a line end", "MV001    x\xE2\nMV002    y", u"MV002",
       u"y"},
      {"malformed UTF-8 in the key field", "MV\xFF" "01    800\r\n", u"MV001", before},
      {"NUL is an ordinary character", "MV001    a\0b\r\n"s, u"MV001", u"a\0b"s},
      {"NUL in the key field", "MV001\0   800\r\n"s, u"MV001", before},
      {"a very long line", "MV001    " + long_value + "\r\nMV002    2",
       u"MV001", std::u16string(long_value.begin(), long_value.end())},
      {"a very long line before the key", std::string(3'000'000, 'x') + "\nMV002    2",
       u"MV002", u"2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings::ResetForTesting();
    WriteBytes("marlivox.cnf", "MV099    before\r\n");
    ASSERT_EQ(settings::LookupSetting(u"MV099"), before);
    WriteBytes("marlivox.cnf", c.bytes);
    EXPECT_EQ(settings::LookupSetting(c.key), c.expected);
    EXPECT_EQ(settings::LookupResult(), c.expected);
    // The same bytes straight from memory give the same answer.
    EXPECT_EQ(settings::LookupSettingInBytes(c.bytes, c.key), c.expected);
  }
  EXPECT_EQ(BoxCount(), 0);
}

TEST_F(SettingsFileTest, AMissingKeyReturnsWhatTheLookupBeforeReturned) {
  WriteBytes("marlivox.cnf", "MV002    two\r\nMV004    \r\n");
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"");  // the first lookup of the process
  EXPECT_EQ(settings::LookupSetting(u"MV002"), u"two");
  EXPECT_EQ(settings::LookupSetting(u"MV003"), u"two");
  EXPECT_EQ(settings::LookupSetting(u"MV004"), u"");  // found, empty
  EXPECT_EQ(settings::LookupSetting(u"MV005"), u"");
}

TEST_F(SettingsFileTest, AMissingFileShowsOneBoxPerLookupAndReturnsThePreviousResult) {
  WriteBytes("marlivox.cnf", "MV001    800\r\n");
  ASSERT_EQ(settings::LookupSetting(u"MV001"), u"800");
  std::filesystem::remove("marlivox.cnf");
  EXPECT_EQ(settings::LookupSetting(u"MV002"), u"800");
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"800");
  using Box = std::pair<std::u16string, std::u16string>;
  EXPECT_EQ(fake::MessageBoxes(),
            (std::vector<Box>{{u"Information", u"Couldn't open the file"},
                              {u"Information", u"Couldn't open the file"}}));
  EXPECT_FALSE(Exists("marlivox.cnf"));  // a lookup never creates the file
}

TEST_F(SettingsFileTest, WhatIsNotARegularFileCannotBeOpened) {
  std::filesystem::create_directory("marlivox.cnf");
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"");
  EXPECT_EQ(BoxCount(), 1);
  std::filesystem::remove("marlivox.cnf");
  ASSERT_EQ(mkfifo("marlivox.cnf", 0600), 0);  // must not hang waiting for a writer
  EXPECT_EQ(settings::LookupSetting(u"MV001"), u"");
  EXPECT_EQ(BoxCount(), 2);
  FillTable(false);
  EXPECT_FALSE(settings::WriteSettingsFile(OpenMode::Append));
  EXPECT_FALSE(settings::WriteSettingsFile(OpenMode::Replace));
}

}  // namespace
