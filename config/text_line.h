// Line pieces of the configuration files: read with a 512-byte buffer, so a
// longer line arrives as several pieces, each handled as a line of its own.
#pragma once

#include <stddef.h>

inline constexpr size_t kLinePiece = 512;

// Space, tab, newline, vertical tab, form feed, carriage return; unlike
// isspace() this does not move with the locale.
inline bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline char* skip_space(char* p) {
  while (is_space(*p)) {
    ++p;
  }
  return p;
}

// Cuts trailing whitespace (the newline, a CR-LF's carriage return) off `s`.
void trim_end(char* s);
