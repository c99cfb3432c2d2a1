// Plain POSIX access to the settings file, by name relative to the working
// directory. No toolkit is involved, so the logic and its tests link it as is.
//
// Every open takes an exclusive advisory lock (flock) on the file without
// waiting: while one keyer holds the file, another keyer's open of the same
// file fails as "held open by another process". A lock is held only inside
// one call; nothing stays open between calls.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::files {

// Opens `name` for reading under the exclusive lock and releases it at once:
// true when it could be opened (it exists, is readable and nobody holds it).
bool CanOpenForReading(const char* name);

// The whole content of `name`, read under the exclusive lock; nothing when it
// is missing, unreadable, not a regular file or held by another process.
std::optional<std::string> ReadWholeFile(const char* name);

// Adds `bytes` at the end of `name` under the exclusive lock, creating the
// file when it is missing; what was there stays in front. False when the file
// could not be opened or not all bytes were written.
bool AppendToFile(const char* name, std::string_view bytes);

// Makes `bytes` the whole content of `name`, atomically: they are written to
// a temporary file beside it ("<name>.tmp", beside the link's target when
// `name` is a symbolic link), flushed to disk and renamed over it, so the file
// holds either its old content or the new one, whole, at every moment. The
// old file must be one its user could open for writing; its permission bits
// carry over. The lock on the old file is held from before the temporary file
// is made until after the rename. False, with the old file untouched and the
// temporary file removed, on any failure.
bool ReplaceFile(const char* name, std::string_view bytes);

// ---- Tests only ---------------------------------------------------------------

// The steps of ReplaceFile between which a fault can be injected.
enum class ReplaceStep {
  kNone,
  kTempCreated,     // the temporary file exists, nothing written
  kHalfWritten,     // half of the bytes are in the temporary file
  kBeforeSync,      // all bytes written, not yet flushed
  kBeforeRename,    // flushed, not yet renamed
  kAfterRename,     // renamed over the old file, directory not yet flushed
};

enum class FaultAction {
  kFail,  // the step fails as a system call would (e.g. a full disk)
  kKill,  // the process is killed on the spot (SIGKILL)
};

// The next ReplaceFile meets the fault at `step`; kNone switches it off.
// A fault is used once.
void InjectFaultForTesting(ReplaceStep step, FaultAction action);

}  // namespace platform::files
