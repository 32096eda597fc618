// The portal configuration in force from start-up until the operator's
// configuration replaces it: offline, local RADIUS, default secret.
#pragma once

// Writes the offline configuration naming `nasid` to `path`, mode 0600, or
// the mode and owner of the file it replaces. Returns 0, or -1 when it cannot
// be created or not written whole (logged, whatever is at `path` removed).
int chillispot_conf_write_offline(const char* path, const char* nasid);
