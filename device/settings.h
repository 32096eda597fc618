// SSID and radio channel from the router's settings store, read through the
// store's command-line tool in a shell pipeline.
#pragma once

// The pipelines. Only the line end is removed (the '\n' is quoted for the
// shell; unquoted it would become "n" and eat every letter n of the SSID).
inline constexpr const char kSsidCommand[] =
    "/bin/nvram get zelvanet_ssid | cut -d '=' -f 2 | tr -d '\\n'";
inline constexpr const char kChannelCommand[] =
    "/bin/nvram get wlan0_channel | cut -d '=' -f 2 | tr -d '\\n'";

// Writes "ZELVANET" and a space and the SSID (when it is 1 to 23 characters;
// "ZELVANET" alone otherwise) into `out`, cut to `size` - 1 characters.
// Returns 0, or -1 with `out` untouched when the command gives no output.
int getssid(char* out, int size);
// As getssid(), running `command` instead of kSsidCommand.
int getssid_from(const char* command, char* out, int size);

// Stores the channel (atoi of the output; 0 when it has no digits). Returns
// 0, or -1 with `channel` untouched when the command gives no output.
int getchannel(int* channel);
// As getchannel(), running `command` instead of kChannelCommand.
int getchannel_from(const char* command, int* channel);
