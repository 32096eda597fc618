// The supervisor's two messages to the system log: LOG at notice (5) and
// DEBUG at debug (7). No openlog(): the C library's identity and facility
// apply, as on the router.
#pragma once

#define SW_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// Fixed program name that starts every supervisor message, whatever argv[0] is.
inline constexpr const char kProgName[] = "spotwarden";

// Shown in log lines instead of a shared secret: routers often forward their
// system log to remote hosts.
inline constexpr const char kSecretMask[] = "********";

// Each message starts with "spotwarden: ", put there by the call: the
// format gives only what follows.
void LOG(const char* format, ...) SW_PRINTF(1, 2);
void DEBUG(const char* format, ...) SW_PRINTF(1, 2);

// Test hook at the syslog boundary: when set, each message is formatted and
// handed to `sink` instead of vsyslog(); nullptr restores the system log.
using LogSink = void (*)(int priority, const char* message);
void log_set_sink(LogSink sink);

// The one answer to memory running out, everywhere in spotwarden: the
// message ("spotwarden: WHERE: malloc() failed!", or without WHERE when it is
// nullptr), then abort(). Nothing the supervisor does is worth running on
// half-built records.
[[noreturn]] void log_out_of_memory(const char* where);
// strdup() under that rule: a copy, or the message and abort(). A null
// result would read as "no such value" to every caller.
char* strdup_or_die(const char* text, const char* where);
