#include "os/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

namespace {

LogSink g_sink = nullptr;

void emit(int priority, const char* format, va_list ap) SW_PRINTF(2, 0);
void emit(int priority, const char* format, va_list ap) {
  // The program's name goes into the format, not into a message buffer, so
  // that no message is cut to a buffer's size. The formats are the code's
  // own literals, far shorter than this.
  char prefixed[256];
  if (snprintf(prefixed, sizeof prefixed, "%s: %s", kProgName, format) < static_cast<int>(sizeof prefixed)) {
    format = prefixed;
  }
  if (g_sink) {
    char line[1024];
    vsnprintf(line, sizeof line, format, ap);
    g_sink(priority, line);
    return;
  }
  vsyslog(priority, format, ap);
}

}  // namespace

void LOG(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(LOG_NOTICE, format, ap);
  va_end(ap);
}

void DEBUG(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  emit(LOG_DEBUG, format, ap);
  va_end(ap);
}

void log_set_sink(LogSink sink) { g_sink = sink; }

void log_out_of_memory(const char* where) {
  if (where) {
    LOG("%s: malloc() failed!\n", where);
  } else {
    LOG("malloc() failed!\n");
  }
  abort();
}

char* strdup_or_die(const char* text, const char* where) {
  char* copy = strdup(text);
  if (copy == nullptr) {
    log_out_of_memory(where);
  }
  return copy;
}
