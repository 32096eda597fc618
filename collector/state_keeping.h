// The files the records come from and go to: the allow list, reread on
// SIGHUP, and the state file kept across restarts.
#pragma once

#include <stdint.h>

#include <string>

#include "collector/shared_registry.h"

// Replaces the allow list of `shared` with the one in `path`, saying on
// standard error how many identifiers it allows. 0, or -1 after saying why.
int load_allow_list(const std::string& path, shared_registry* shared);

// Reads the state file `path` into `shared` at start-up, before any other
// thread; a missing or damaged one is said and the records start empty.
// Nothing when `path` is empty.
void restore_state(const std::string& path, shared_registry* shared);

// Writes the state file `path`, saying on standard error when it cannot.
// Nothing when `path` is empty.
void save_state(const std::string& path, shared_registry* shared, int64_t forget_after);
