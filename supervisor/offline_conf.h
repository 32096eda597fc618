// The portal configuration in force from start-up until the operator's
// configuration replaces it: offline, local RADIUS, default secret.
#pragma once

// Writes the offline configuration naming `nasid` to `path`. Returns 0, or
// -1 when it cannot be created (logged, whatever is at `path` removed) or
// not written whole.
int chillispot_conf_write_offline(const char* path, const char* nasid);
