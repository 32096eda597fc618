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
    LOG("%s: %s: malloc() failed!\n", kProgName, where);
  } else {
    LOG("%s: malloc() failed!\n", kProgName);
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
