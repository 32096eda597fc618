// Move-only owners of the OS resources the programs hold: a descriptor, a
// stdio stream, a popen() pipe, a directory stream and a malloc'd block. One
// template, one API:
// get(), release(), reset(), close() and a test for "holds something".
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

// Owns one resource described by `Traits` (its handle type, the empty
// handle, and how to let it go); lets it go when destroyed. Never copies.
template <typename Traits>
class Unique final {
 public:
  using Handle = typename Traits::Handle;

  Unique() = default;
  explicit Unique(Handle h) : h_(h) {}
  Unique(Unique&& other) noexcept : h_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::kEmpty; }
  Handle release() { return std::exchange(h_, Traits::kEmpty); }
  // Lets the resource go now; returns what that returned (0 when empty).
  int close() {
    Handle h = release();
    return h != Traits::kEmpty ? Traits::close(h) : 0;
  }
  void reset(Handle h = Traits::kEmpty) {
    close();
    h_ = h;
  }

 private:
  Handle h_ = Traits::kEmpty;
};

struct FdTraits {
  using Handle = int;
  static constexpr int kEmpty = -1;
  static int close(int fd) { return ::close(fd); }
};

struct FileTraits {
  using Handle = FILE*;
  static constexpr FILE* kEmpty = nullptr;
  static int close(FILE* f) { return ::fclose(f); }
};

// pclose() waits for the command to end and gives its wait status.
struct PipeTraits {
  using Handle = FILE*;
  static constexpr FILE* kEmpty = nullptr;
  static int close(FILE* f) { return ::pclose(f); }
};

struct DirTraits {
  using Handle = DIR*;
  static constexpr DIR* kEmpty = nullptr;
  static int close(DIR* d) { return ::closedir(d); }
};

template <typename T>
struct MallocTraits {
  using Handle = T*;
  static constexpr T* kEmpty = nullptr;
  static int close(T* p) {
    ::free(p);
    return 0;
  }
};

using UniqueFd = Unique<FdTraits>;
using UniqueFile = Unique<FileTraits>;
using UniquePipe = Unique<PipeTraits>;
using UniqueDir = Unique<DirTraits>;
template <typename T>
using UniqueMalloc = Unique<MallocTraits<T>>;
using UniqueCString = UniqueMalloc<char>;
