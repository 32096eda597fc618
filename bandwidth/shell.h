// Shell commands of linkgauge. Host texts come from the settings store and
// from the trace output, so only texts that cannot change a command line's
// meaning may ever be formatted into one.
#pragma once

#include <stddef.h>

// 1 when every character of `text` is a letter, a digit, '.', ':' or '-'
// (the empty text included) and it does not begin with '-', which `ping`
// would take for one of its options; else 0.
constexpr int host_text_is_safe(const char* text) {
  if (*text == '-') {
    return 0;
  }
  for (; *text; ++text) {
    char c = *text;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == ':' || c == '-';
    if (!ok) {
      return 0;
    }
  }
  return 1;
}

// Bytes of a command line, terminator included: room for a whole DNS name
// (253 characters) and a scratch file path.
inline constexpr size_t kCommandSize = 512;

// Formats a command line and runs it through the shell with system(),
// waiting for it. Returns system()'s result, or -1 without running anything
// when the line does not fit kCommandSize.
int run_shell(const char* format, ...) __attribute__((format(printf, 1, 2)));
