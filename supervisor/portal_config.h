// The portal configuration refreshed while chilli runs: the start-up's
// download and the talkback loop's refresh both come here.
#pragma once

// One portal configuration download (chillispot_conf_update()); a new file
// installed is reloaded by chilli (SIGHUP) before the log names it, and
// counted in the status file. chillispot_conf_update()'s result.
int portal_config_refresh(const char* url, const char* conf, const char* secret);
