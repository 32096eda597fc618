// The HTTP side's TLS and basic authentication, configured as Prometheus
// exporters are (the exporter toolkit's web configuration file), so that a
// Prometheus scrape_config with tls_config and basic_auth works unchanged:
//
//   tls_server_config:
//     cert_file: /etc/heartbeat-collector/cert.pem
//     key_file: /etc/heartbeat-collector/key.pem
//   basic_auth_users:
//     prometheus: $2y$10$...       (a bcrypt hash)
#pragma once

#include <map>
#include <mutex>
#include <string>

struct web_config {
  std::string cert_file;  // both empty: plain HTTP
  std::string key_file;
  std::map<std::string, std::string> users;  // name -> bcrypt hash; empty: no authentication
};

// Parses the YAML text of a web configuration file. 0, or -1 with `why`
// set: not YAML, an unknown or unsupported key, half a TLS pair, a hash
// that is not bcrypt.
int web_config_parse(const std::string& yaml, web_config* out, std::string* why);

// Checks the Authorization header of requests against the users' hashes.
// bcrypt is slow on purpose; a password once found right is remembered in
// memory so that a scrape every few seconds does not pay for it each time.
class basic_auth final {
 public:
  explicit basic_auth(std::map<std::string, std::string> users) : users_(std::move(users)) {}
  bool enabled() const { return !users_.empty(); }
  // True when `authorization` ("Basic BASE64") names a user and its password.
  bool allows(const std::string& authorization);

 private:
  std::map<std::string, std::string> users_;
  std::mutex lock_;
  std::map<std::string, std::string> verified_;  // user -> the "user:password" last found right
};
