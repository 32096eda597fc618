// The router's system utility library (libsutil).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The process id stored in the pid file `path`; 0 or below when none.
int read_pid(const char* path);

#ifdef __cplusplus
}
#endif
