// Move-only owners of a descriptor, a stdio stream and a malloc'd block.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

// Owns one file descriptor; closes it when destroyed. Never duplicates.
class UniqueFd final {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Owns one stdio stream; fclose()s it when destroyed.
class UniqueFile final {
 public:
  UniqueFile() = default;
  explicit UniqueFile(FILE* f) : f_(f) {}
  UniqueFile(UniqueFile&& other) noexcept : f_(other.release()) {}
  UniqueFile& operator=(UniqueFile&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  ~UniqueFile() { reset(); }

  FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  FILE* release() { return std::exchange(f_, nullptr); }
  // Closes the stream now; returns fclose()'s result (0 when nothing was open).
  int close() {
    FILE* f = release();
    return f ? ::fclose(f) : 0;
  }
  void reset(FILE* f = nullptr) {
    if (f_) {
      ::fclose(f_);
    }
    f_ = f;
  }

 private:
  FILE* f_ = nullptr;
};

// Owns a block from malloc()/strdup(); free()s it when destroyed.
template <typename T>
class UniqueMalloc final {
 public:
  UniqueMalloc() = default;
  explicit UniqueMalloc(T* p) : p_(p) {}
  UniqueMalloc(UniqueMalloc&& other) noexcept : p_(other.release()) {}
  UniqueMalloc& operator=(UniqueMalloc&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueMalloc(const UniqueMalloc&) = delete;
  UniqueMalloc& operator=(const UniqueMalloc&) = delete;
  ~UniqueMalloc() { reset(); }

  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* release() { return std::exchange(p_, nullptr); }
  void reset(T* p = nullptr) {
    ::free(p_);
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

using UniqueCString = UniqueMalloc<char>;
