#include "config/text_line.h"

#include <string.h>

void trim_end(char* s) {
  size_t len = strlen(s);
  while (len > 0 && is_space(s[len - 1])) {
    s[--len] = '\0';
  }
}
