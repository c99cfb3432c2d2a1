#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

namespace platform::files {

namespace {

struct Fault {
  ReplaceStep step = ReplaceStep::kNone;
  FaultAction action = FaultAction::kFail;
};

Fault pending_fault;

// True when the injected fault belongs to `step`: a kill ends the process
// here, a failure is reported to the caller as a failed system call.
bool FaultAt(const Fault& fault, ReplaceStep step) {
  if (fault.step != step) return false;
  if (fault.action == FaultAction::kKill) raise(SIGKILL);
  errno = EIO;
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens `path` and takes the exclusive lock without waiting; -1 on failure.
// Between the open and the lock another keyer may have renamed a new file
// over `path`; the locked file is then no longer the one with that name, so
// the open is tried again. `follow` says whether `path` is looked up through
// a symbolic link, as the open does.
int OpenLocked(const char* path, int flags, mode_t mode, bool follow) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0) return -1;
    int locked;
    do {
      locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      close(fd);
      return -1;
    }
    struct stat held {}, named {};
    int named_ok = follow ? stat(path, &named) : lstat(path, &named);
    if (fstat(fd, &held) == 0 && named_ok == 0 && SameFile(held, named)) {
      if (S_ISREG(held.st_mode)) return fd;
      close(fd);  // a directory, a FIFO, a device: not a settings file
      return -1;
    }
    close(fd);
  }
  return -1;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links from `name` to the file they finally name, which
// need not exist yet. False on a loop or an unreadable link.
bool ResolveLinks(const char* name, std::string& resolved) {
  std::string path = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      resolved = path;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      resolved = path;
      return true;
    }
    std::string link(static_cast<std::size_t>(st.st_size) + 256, '\0');
    ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) return false;
    path = link[0] == '/' ? link : DirectoryOf(path) + "/" + link;
  }
  return false;
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

void SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool CanOpenForReading(const char* name) {
  int fd = OpenLocked(name, O_RDONLY, 0, true);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::optional<std::string> ReadWholeFile(const char* name) {
  int fd = OpenLocked(name, O_RDONLY, 0, true);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return bytes;
}

bool AppendToFile(const char* name, std::string_view bytes) {
  int fd = OpenLocked(name, O_RDWR | O_CREAT | O_APPEND, 0666, true);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  close(fd);
  return ok;
}

// The old file is locked first, and the temporary file is locked too before
// it is emptied: a second keyer finds one of the two held and fails, so two
// keyers never write the same temporary file or interleave their renames.
// The temporary file keeps its lock after the rename, when it has become the
// settings file, until everything is closed.
bool ReplaceFile(const char* name, std::string_view bytes) {
  const Fault fault = pending_fault;
  pending_fault = Fault{};

  std::string target;
  if (!ResolveLinks(name, target)) return false;

  int old_fd = -1;
  struct stat old_stat {};
  mode_t mode;
  if (stat(target.c_str(), &old_stat) == 0) {
    // Opening for writing checks what writing in place would need: a file
    // its user may not write is not replaced behind its back either.
    old_fd = OpenLocked(target.c_str(), O_WRONLY, 0, true);
    if (old_fd < 0 || fstat(old_fd, &old_stat) != 0) {
      if (old_fd >= 0) close(old_fd);
      return false;
    }
    mode = old_stat.st_mode & 07777;
  } else if (errno == ENOENT) {
    mode = 0666 & ~CurrentUmask();
  } else {
    return false;
  }

  const std::string temp = target + ".tmp";
  int temp_fd = OpenLocked(temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW, 0600, false);
  if (temp_fd < 0) {
    if (old_fd >= 0) close(old_fd);
    return false;
  }

  bool ok = ftruncate(temp_fd, 0) == 0;
  if (ok && old_fd >= 0) {
    // Keep the owner where allowed; a failure here only leaves the new file
    // owned by whoever saved it.
    (void)!fchown(temp_fd, old_stat.st_uid, old_stat.st_gid);
  }
  ok = ok && fchmod(temp_fd, mode) == 0;
  ok = ok && !FaultAt(fault, ReplaceStep::kTempCreated);
  const std::size_t half = bytes.size() / 2;
  ok = ok && WriteAll(temp_fd, bytes.data(), half);
  ok = ok && !FaultAt(fault, ReplaceStep::kHalfWritten);
  ok = ok && WriteAll(temp_fd, bytes.data() + half, bytes.size() - half);
  ok = ok && !FaultAt(fault, ReplaceStep::kBeforeSync);
  ok = ok && fsync(temp_fd) == 0;
  ok = ok && !FaultAt(fault, ReplaceStep::kBeforeRename);
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    // Still ours: we hold its lock, and it has not been renamed.
    unlink(temp.c_str());
    close(temp_fd);
    if (old_fd >= 0) close(old_fd);
    return false;
  }
  // The new content is in place whatever happens now. A failed flush of the
  // directory entry is not reported: the old file is already gone.
  if (!FaultAt(fault, ReplaceStep::kAfterRename)) SyncDirectory(DirectoryOf(target));
  close(temp_fd);
  if (old_fd >= 0) close(old_fd);
  return true;
}

void InjectFaultForTesting(ReplaceStep step, FaultAction action) {
  pending_fault = Fault{step, action};
}

}  // namespace platform::files
