// The portal's (chilli's) configuration file: parameter lookup, safe
// replacement from the operator's server, and byte comparison.
#pragma once

// The name that the first line of a downloaded portal configuration carries.
inline constexpr const char kChilliConfName[] = "chilli.conf";

// Value of the first line of the file at `path` that sets `name`, as a heap
// string the caller frees ("" for a bare name); null when the file cannot be
// opened or nothing sets `name`.
char* chillispot_conf_get_param(const char* path, const char* name);

// Gives the side file open at `fd` the mode and owner of the file at `path`
// (owner only as far as the process may), or mode 0600 when there is none:
// the portal configuration holds the RADIUS secret, and the mode and group an
// operator chose for it outlive every replacement. Anything but a regular
// file is left alone.
void chillispot_conf_keep_mode(int fd, const char* path);

// Downloads `url` into the side file next to `path`, checks it, appends
// "radiussecret SECRET" when the download sets no secret and `secret` is not
// null, and moves it over `path` with one rename when it differs (taking
// over the mode and owner of the file it replaces; also when `path` does not
// exist). 1 when the download was installed, 0 when `path` was current
// already, -1 on failure (`path` untouched). No side file outlives the call.
// chilli is not told: the caller makes it reload, then
// chillispot_conf_report_installed() logs the change.
int chillispot_conf_update(const char* url, const char* path, const char* secret);

// Logs that the portal configuration at `path` is in force, and its uamserver.
void chillispot_conf_report_installed(const char* path);

// Appends "radiussecret SECRET" to the file at `path`, on a line of its own:
// a last line without its newline gets one first, and when the file then
// sets a secret itself (that line may be a bare "radiussecret"), nothing more
// is appended. 0, or -1 when the file cannot be opened or a byte not written.
int append_secret(const char* path, const char* secret);

// 0 when both files have the same bytes, 1 when they differ, -1 when either
// cannot be opened or cannot be read.
int compare_files(const char* a, const char* b);
