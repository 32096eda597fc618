// The router's settings store library (libnvram).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The value stored under `name` as a NUL-terminated text owned by the
// library, or a null pointer when the setting does not exist.
char* nvram_get(const char* name);

#ifdef __cplusplus
}
#endif
