#include "common/side_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

// statfs() f_type of the file systems that live in memory: nothing of them
// survives a power cut, so syncing their folders buys nothing.
constexpr uint32_t kTmpfsMagic = 0x01021994;
constexpr uint32_t kRamfsMagic = 0x858458f6;

// Syncs the folder that holds `path`, unless it lives in memory.
int sync_folder(const char* path) {
  char folder[PATH_MAX];
  const char* slash = strrchr(path, '/');
  size_t n = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
  if (n == 0) {
    folder[0] = '.';
    n = 1;
  } else {
    memcpy(folder, path, n);
  }
  folder[n] = '\0';
  struct statfs where;
  if (statfs(folder, &where) == 0) {
    const auto type = static_cast<uint32_t>(where.f_type);
    if (type == kTmpfsMagic || type == kRamfsMagic) {
      return 0;
    }
  }
  UniqueFd fd(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && fsync(fd.get()) == 0 ? 0 : errno;
}

}  // namespace

SideFile::SideFile(const char* path, mode_t mode) : path_(path) {
  int n = snprintf(side_, sizeof side_, "%s%s", path, kSideFileSuffix);
  if (n < 0 || static_cast<size_t>(n) >= sizeof side_) {
    side_[0] = '\0';
    fail(ENAMETOOLONG);
    return;
  }
  unlink(side_);
  fd_.reset(open(side_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd_ || fchmod(fd_.get(), mode) != 0) {
    fail(errno);
  }
}

SideFile::~SideFile() {
  if (!committed_) {
    discard();
  }
}

void SideFile::discard() {
  fd_.close();
  if (side_[0] != '\0' && !discarded_) {
    unlink(side_);
  }
  discarded_ = true;
}

void SideFile::fail(int error) {
  if (error_ == 0) {
    error_ = error != 0 ? error : EIO;
  }
}

void SideFile::write(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (ok() && size > 0) {
    ssize_t n = ::write(fd_.get(), p, size);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      fail(n < 0 ? errno : ENOSPC);
      break;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

int SideFile::commit() {
  if (ok() && fsync(fd_.get()) != 0) {
    fail(errno);
  }
  if (ok() && fd_.close() != 0) {
    fail(errno);
  }
  if (ok() && rename(side_, path_) != 0) {
    fail(errno);
  }
  if (!ok()) {
    // Gone at once: on a full file system its room is what a caller's next
    // attempt needs.
    discard();
    return error_;
  }
  committed_ = true;
  return sync_folder(path_);
}
