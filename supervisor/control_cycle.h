// The supervisor's life after start-up; never returns.
#pragma once

#include "supervisor/args.h"

[[noreturn]] void control_cycle(spotwarden_args* args, const char* settings_url,
                                const char* portal_config_url, const char* webping_query);
