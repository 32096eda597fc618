// Everything the supervisor does to the portal from outside: the keeper that
// keeps chilli running, signals through killall, and the offline-reason link.
#pragma once

inline constexpr const char kOfflineReasonLink[] = "/var/run/offline-reason";
inline constexpr const char kPageProbeLost[] = "/www/zelvanet_R001.html";
inline constexpr const char kPageStartup[] = "/www/zelvanet_R002.html";
inline constexpr const char kPageUpdateFailed[] = "/www/zelvanet_R003.html";
inline constexpr const char kPageAccountingFailed[] = "/www/zelvanet_R004.html";
inline constexpr const char kPageAuthFailed[] = "/www/zelvanet_R005.html";

// Seconds the keeper pauses before restarting chilli, the parent's wait
// after starting the keeper, and the keeper's pause between looks for a
// chilli it did not start.
inline constexpr unsigned kChilliRestartPause = 10;
inline constexpr unsigned kKeeperStartWait = 3;
inline constexpr unsigned kChilliPollPause = 1;

// Forks the portal keeper, which runs chilli with `argv` and restarts it
// kChilliRestartPause seconds after every exit for as long as its parent
// lives. It never starts chilli while a process of that name runs: it looks
// again every kChilliPollPause seconds. Told to end (SIGTERM, which the
// kernel sends when the parent dies), it ends chilli the same way, waits for
// it and exits. `argv` must live as long as the process. Returns 0 in the
// parent after kKeeperStartWait seconds, -1 when the fork failed.
int run_chilli_bg(char* const argv[]);

// Where the supervisor waits anyway: when the keeper run_chilli_bg() started
// has ended (killed from outside), reaps it and forks a new one at once, as
// well as when no keeper could be forked before. Does nothing when
// run_chilli_bg() was never called.
void respawn_chilli_bg();

// Test hook: the folder read as /proc when looking for a running chilli,
// kept until restored by nullptr.
void portal_proc_override(const char* dir);

// Runs "killall -N chilli" under the time limit. `signo` is a signal of the
// platform being built for (SIGHUP, SIGUSR1, ...): its number is what killall
// gets, so the MIPS build sends 16/17/19/1 and an x86-64 build 10/12/30/1.
int signal_chilli(int signo);
int chilli_offline();  // SIGUSR1
int chilli_online();   // SIGUSR2

// Creates `link` pointing at `page`; never replaces an existing link.
int write_offline_reason(const char* link, const char* page);
// Removes `link`, logging when that fails (a missing link included).
void remove_offline_reason(const char* link);
// Remove-then-create: points `link` at `page` whatever it pointed at before.
void repoint_offline_reason(const char* link, const char* page);
