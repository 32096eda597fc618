// The HTTP side: Prometheus's scrapes, the JSON and the page, over plain
// HTTP or TLS, with basic authentication when configured.
#pragma once

#include <stdint.h>

#include <httplib.h>

#include <memory>
#include <string>

#include "collector/options.h"
#include "collector/shared_registry.h"
#include "collector/web_config.h"

// Reads the web configuration file `path` into `out`. 0, or -1 after saying
// why on standard error.
int load_web_config(const std::string& path, web_config* out);

// The server, plain or TLS as `web` says, bound to --listen. Null after
// saying why on standard error.
std::unique_ptr<httplib::Server> open_http_server(const web_config& web, const collector_options& o);

// Its workers, timeouts, authentication and answers, which render the
// records of `shared`; `started` is when the program started (wall clock).
// Once only: what the handlers use lives as long as the program.
void set_up_http_server(httplib::Server* server, const web_config& web, const collector_options& o,
                        shared_registry* shared, int64_t started);
