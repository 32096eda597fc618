#include "collector/web_config.h"

#include <crypt.h>
#include <string.h>
#include <yaml-cpp/yaml.h>

#include <memory>

namespace {

bool is_bcrypt(const std::string& hash) {
  return hash.size() == 60 && hash[0] == '$' && hash[1] == '2' && strchr("aby", hash[2]) != nullptr &&
         hash[3] == '$';
}

// RFC 4648 base64, padding required; false on anything else.
bool base64_decode(const std::string& in, std::string* out) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (in.size() % 4 != 0) {
    return false;
  }
  out->clear();
  uint32_t bits = 0;
  int held = 0;
  size_t padding = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '=') {
      if (i + 2 < in.size()) {
        return false;
      }
      ++padding;
      continue;
    }
    size_t v = kAlphabet.find(in[i]);
    if (v == std::string::npos || padding > 0) {
      return false;
    }
    bits = bits << 6 | static_cast<uint32_t>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      *out += static_cast<char>(bits >> held & 0xFF);
    }
  }
  return true;
}

// Constant time for equal lengths: how much of a password matched does not show.
bool same(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return diff == 0;
}

}  // namespace

int web_config_parse(const std::string& yaml, web_config* out, std::string* why) {
  web_config c;
  try {
    YAML::Node root = YAML::Load(yaml);
    if (root.IsNull()) {
      *out = c;
      return 0;
    }
    if (!root.IsMap()) {
      *why = "not a mapping";
      return -1;
    }
    for (const auto& item : root) {
      std::string key = item.first.as<std::string>();
      if (key == "tls_server_config") {
        for (const auto& tls : item.second) {
          std::string name = tls.first.as<std::string>();
          if (name == "cert_file") {
            c.cert_file = tls.second.as<std::string>();
          } else if (name == "key_file") {
            c.key_file = tls.second.as<std::string>();
          } else {
            *why = "tls_server_config." + name + " is not supported";
            return -1;
          }
        }
        if (c.cert_file.empty() != c.key_file.empty()) {
          *why = "tls_server_config needs both cert_file and key_file";
          return -1;
        }
      } else if (key == "basic_auth_users") {
        for (const auto& user : item.second) {
          std::string name = user.first.as<std::string>();
          std::string hash = user.second.as<std::string>();
          if (!is_bcrypt(hash)) {
            *why = "basic_auth_users." + name + " is not a bcrypt hash";
            return -1;
          }
          c.users[name] = hash;
        }
      } else {
        *why = key + " is not supported";
        return -1;
      }
    }
  } catch (const YAML::Exception& e) {
    *why = e.what();
    return -1;
  }
  *out = std::move(c);
  return 0;
}

bool basic_auth::allows(const std::string& authorization) {
  constexpr char kScheme[] = "Basic ";
  std::string pair;
  if (authorization.compare(0, sizeof kScheme - 1, kScheme) != 0 ||
      !base64_decode(authorization.substr(sizeof kScheme - 1), &pair)) {
    return false;
  }
  size_t colon = pair.find(':');
  if (colon == std::string::npos) {
    return false;
  }
  std::string name = pair.substr(0, colon);
  auto user = users_.find(name);
  if (user == users_.end()) {
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto known = verified_.find(name);
    if (known != verified_.end() && same(known->second, pair)) {
      return true;
    }
  }
  // crypt_rn's state is large: on the heap, not a request thread's stack.
  auto data = std::make_unique<struct crypt_data>();
  std::string password = pair.substr(colon + 1);
  const char* hashed = crypt_rn(password.c_str(), user->second.c_str(), data.get(), sizeof *data);
  if (hashed == nullptr || !same(hashed, user->second)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  verified_[name] = pair;
  return true;
}
