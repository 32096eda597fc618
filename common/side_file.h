// The one way the programs replace a whole file, so that a reader sees the
// old file or the new one, never half of one: the new bytes go to PATH.NEW,
// made afresh (a stale one is removed first; O_EXCL and O_NOFOLLOW, so
// nothing someone left under that name is ever followed) with the mode
// given whatever the umask, written whole, synced and renamed over PATH.
// Where the file lives decides the rest: on a disk, not tmpfs or ramfs, the
// folder is synced too, so the rename itself outlives a power cut.
#pragma once

#include <limits.h>
#include <stddef.h>
#include <sys/types.h>

#include "common/unique.h"

inline constexpr char kSideFileSuffix[] = ".NEW";

class SideFile final {
 public:
  // Makes PATH.NEW afresh; ok() says whether that worked. `path` must live
  // as long as the object.
  SideFile(const char* path, mode_t mode);
  // Removes PATH.NEW unless commit() renamed it.
  ~SideFile();
  SideFile(const SideFile&) = delete;
  SideFile& operator=(const SideFile&) = delete;

  bool ok() const { return error_ == 0; }
  // The errno value of the first step that failed; 0 while none has.
  int error() const { return error_; }
  // The side file's descriptor while it is open (-1 otherwise), for what is
  // written through other means (fchmod, fdopen of a dup).
  int fd() const { return fd_.get(); }
  const char* side_path() const { return side_; }

  // Appends `size` bytes; a short write is retried, a failed one recorded.
  void write(const void* data, size_t size);
  // Syncs, closes and renames the side file over the path, then syncs the
  // folder where that matters. 0, or the errno value of the first failure;
  // unless in_place(), the side file is then gone and the path untouched.
  int commit();
  // Whether commit() renamed the new file over the path (its folder's sync
  // may still have failed).
  bool in_place() const { return committed_; }

 private:
  void fail(int error);
  void discard();

  const char* path_;
  char side_[PATH_MAX] = {};
  UniqueFd fd_;
  int error_ = 0;
  bool committed_ = false;
  bool discarded_ = false;
};
