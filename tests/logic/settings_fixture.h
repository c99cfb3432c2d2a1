// A logic test that runs in a fresh, empty working directory of its own, so
// that the settings file it reads and writes is a real file nobody else sees.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "logic/fixture.h"
#include "platform/files.h"

// The defaults as the first start writes them, written out by hand: ten
// lines, 163 bytes.
inline const std::string kDefaultFile =
    "MV001    800\r\n"
    "MV002    50\r\n"
    "MV003    TEST DE QZ0XYZ =\r\n"
    "MV004    4000\r\n"
    "MV005    2000\r\n"
    "MV006    73\r\n"
    "MV007    1000\r\n"
    "MV008    vakant\r\n"
    "MV009    vakant\r\n"
    "MV010    vakant\r\n";

// The same as "Spara" writes it, rows 8 to 10 empty: 145 bytes.
inline const std::string kSavedDefaults =
    "MV001    800\r\n"
    "MV002    50\r\n"
    "MV003    TEST DE QZ0XYZ =\r\n"
    "MV004    4000\r\n"
    "MV005    2000\r\n"
    "MV006    73\r\n"
    "MV007    1000\r\n"
    "         \r\n"
    "         \r\n"
    "         \r\n";

class SettingsDirTest : public LogicTest {
 protected:
  void SetUp() override {
    LogicTest::SetUp();
    old_cwd_ = std::filesystem::current_path();
    char pattern[] = "/tmp/marlivox-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    std::filesystem::current_path(old_cwd_);
    // Directories made read-only by a test must be opened up to be removed.
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir_, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
    }
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(dir_, error);
    platform::files::InjectFaultForTesting(platform::files::ReplaceStep::kNone,
                                           platform::files::FaultAction::kFail);
  }

  static void WriteBytes(const std::string& name, std::string_view bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
  }

  // The whole file, or nothing when it cannot be read.
  static std::optional<std::string> ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static bool Exists(const std::string& name) {
    struct stat st {};
    return lstat(name.c_str(), &st) == 0;
  }

  // Runs `body` in a child process and returns its exit status, or -signal
  // when a signal ended it. With `as_other_user`, a root test drops to the
  // user nobody first: root may write any file, and only another user sees
  // the permission bits at work.
  static int RunInChild(const std::function<int()>& body, bool as_other_user = false) {
    pid_t pid = fork();
    if (pid == 0) {
      if (as_other_user && geteuid() == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
      }
      _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
  }

  std::filesystem::path dir_;

 private:
  std::filesystem::path old_cwd_;
};
