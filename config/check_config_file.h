// The test that a downloaded file is the configuration file it claims to be.
#pragma once

// 0 when the first line of the file at `path` (its first 255 characters)
// begins with "#" and contains `name`; -1 otherwise. A file that cannot be
// opened is also removed; an invalid one is left for the caller to remove.
int check_config_file(const char* path, const char* name);
