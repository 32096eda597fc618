// The one command runner: every external program of the supervisor (chilli,
// wget, killall) is started here by fork and execvp and waited for.
#pragma once

// Runs `path` (searched on PATH) with the NULL-terminated `argv` and waits.
// Returns the exit status (0..255), 128 + signal number when the child was
// killed by a signal, or -1 when no child could be made or waiting failed.
int our_system(const char* path, char* const argv[]);

// As our_system(), but the child is killed with SIGKILL after `secs` seconds.
int our_system_timeout(const char* path, char* const argv[], unsigned secs);

// SIGALRM handler of the timed runner: kills the child being waited for, if
// any; errno is left as it was.
void alarm_kill(int signal);

// For signal handlers: sends `signo` to the child being waited for. Returns
// 0 when it was sent, -1 when there is no such child (before the fork, after
// the reap); errno is left as it was.
int our_system_signal(int signo);

// Logs a command line at debug priority, long arguments shown with " ... "
// after each run of 55 characters, the whole line cut at 511 characters.
// The value after "--radiussecret", "--uamsecret" or "--secret" (or joined
// to it by "=") is shown as kSecretMask.
void log_args(char* const argv[]);

// Formats the line that log_args() logs into `out` (512 bytes).
void format_args(char* const argv[], char out[512]);

// Seconds that a wget or killall run may take before it is killed.
inline constexpr unsigned kCommandTimeLimit = 60;

// Runs "wget -q -O PATH -- URL" (PATH "/dev/null" when null) under the limit,
// with "--ca-certificate=FILE" after "-q" when the build names a CA file;
// a file that wget creates gets mode 0600.
int run_wget(const char* url, const char* path);
