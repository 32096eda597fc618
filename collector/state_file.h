// The records kept across a restart, so that a router that went silent
// while the collector was away is still shown down rather than absent.
//
// A text file: the line "spotwarden-collector-state 1", one line per record
// (the identifier in hex, then its numbers), and "end COUNT" last, so that a
// cut file is told from a whole one.
#pragma once

#include <string>
#include <unordered_set>

#include "collector/registry.h"

// Writes the records of `s` to `path` through a side file that replaces it
// whole, synced to the disk. 0, or -1 with errno set.
int state_save(const fleet_snapshot& s, const std::string& path);

// Reads `path` into `r` at `now`. 0 when read whole; -1 with `why` set when
// missing or not a state file of this version, and then `r` is unchanged.
int state_load(const std::string& path, moment now, registry* r, std::string* why);

// Reads an allow list: one NAS identifier a line; empty lines and lines
// starting with '#' are skipped. 0, or -1 with `why` set.
int allow_list_load(const std::string& path, std::unordered_set<std::string>* out, std::string* why);
