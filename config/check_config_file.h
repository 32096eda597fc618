// The test that a downloaded file is the configuration file it claims to be,
// and the one checked download of both configuration files.
#pragma once

// 0 when the first line of the file at `path` (its first 255 characters)
// begins with "#" and contains `name`; -1 otherwise. A file that cannot be
// opened is also removed; an invalid one is left for the caller to remove.
int check_config_file(const char* path, const char* name);

// Downloads `url` to `path` with wget: 0 when the copy passes
// check_config_file() and wget reported the transfer whole. A transfer cut
// off mid-file (a full file system, a broken connection) can keep a good
// first line; it fails too, with a DEBUG line. -1 otherwise.
int checked_download(const char* url, const char* path, const char* name);
