// The supervisor's command line: its own options, and everything else handed
// through to chilli in the portal argument vector.
#pragma once

// Made once at start-up; after a successful parse it lives as long as the
// process. Every string is owned (malloc'd) by the record.
struct spotwarden_args {
  char* radiusnasid;
  char* radiusnasif;
  char* lanif;
  char* radiussecret;
  char* conf;
  char** chilli_argv;  // "chilli", pass-through arguments, DNS options, "--conf" PATH, NULL
  char** append_at;    // the slot the next append fills
};

// Allocates a zeroed record with a zeroed vector of argc + 8 entries.
// Allocation failure ends the process.
void spotwarden_args_new(spotwarden_args** out, int argc);
// Appends a heap copy of `text` (nothing when null); the vector stays
// NULL-terminated.
void spotwarden_args_append(spotwarden_args* args, const char* text);
// Parses argv into a new record stored in *out: 0, or -1 on rejection with
// nothing left behind.
int spotwarden_args_parse(spotwarden_args** out, int argc, char* const argv[]);
void spotwarden_args_free(spotwarden_args* args);

// Prints the usage text to standard output.
void usage();
