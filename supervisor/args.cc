#include "supervisor/args.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device/lanip.h"
#include "device/nasid.h"
#include "os/log.h"

namespace {

constexpr const char kFn[] = "spotwarden_args_parse";

// Room beyond argc: "--dns1" IP "--dns2" IP "--conf" PATH and the NULL entry.
constexpr int kExtraSlots = 8;

// Replaces *field with a copy of `value` (a later option wins).
void set_field(char** field, const char* value) {
  free(*field);
  *field = strdup_or_die(value, "spotwarden_args_append");
}

// The record field an option sets, or null when `arg` is not one.
char** option_field(spotwarden_args* args, const char* arg) {
  struct Option {
    const char* name;
    char* spotwarden_args::*field;
  };
  static const Option kOptions[] = {
      {"--radiusnasid", &spotwarden_args::radiusnasid},
      {"--radiusnasif", &spotwarden_args::radiusnasif},
      {"--lanif", &spotwarden_args::lanif},
      {"--radiussecret", &spotwarden_args::radiussecret},
      {"--conf", &spotwarden_args::conf},
      {"-c", &spotwarden_args::conf},
  };
  for (const Option& o : kOptions) {
    if (strcmp(arg, o.name) == 0) {
      return &(args->*o.field);
    }
  }
  return nullptr;
}

int reject(spotwarden_args* args) {
  spotwarden_args_free(args);
  return -1;
}

}  // namespace

void spotwarden_args_new(spotwarden_args** out, int argc) {
  auto* args = static_cast<spotwarden_args*>(calloc(1, sizeof(spotwarden_args)));
  if (args == nullptr) {
    log_out_of_memory("spotwarden_args_new");
  }
  args->chilli_argv = static_cast<char**>(calloc(static_cast<size_t>(argc) + kExtraSlots, sizeof(char*)));
  if (args->chilli_argv == nullptr) {
    log_out_of_memory(nullptr);
  }
  args->append_at = args->chilli_argv;
  *out = args;
}

void spotwarden_args_append(spotwarden_args* args, const char* text) {
  if (text == nullptr) {
    return;
  }
  *args->append_at++ = strdup_or_die(text, "spotwarden_args_append");
  *args->append_at = nullptr;
}

int spotwarden_args_parse(spotwarden_args** out, int argc, char* const argv[]) {
  if (argc < 3) {
    return -1;
  }
  spotwarden_args* args;
  spotwarden_args_new(&args, argc);
  spotwarden_args_append(args, "chilli");

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      return reject(args);
    }
    char** field = option_field(args, arg);
    if (field == nullptr) {
      spotwarden_args_append(args, arg);
      continue;
    }
    if (i + 1 >= argc) {
      return reject(args);  // the value is missing: never read past argv
    }
    set_field(field, argv[++i]);
  }

  if ((args->radiusnasid != nullptr) == (args->radiusnasif != nullptr) || args->conf == nullptr) {
    return reject(args);
  }
  if (args->radiusnasif != nullptr) {
    char nasid[24];
    if (getnasid(args->radiusnasif, nasid) != 0) {
      LOG("%s: error getting radiusnasid from interface: %s", kFn, args->radiusnasif);
      return reject(args);
    }
    args->radiusnasid = strdup_or_die(nasid, "spotwarden_args_append");
  }
  if (args->lanif != nullptr) {
    char ip[kLanIpTextSize];
    if (getlanip(args->lanif, ip) != 0) {
      LOG("%s: error getting LAN IP from interface: %s\n", kFn, args->lanif);
      LOG("WARNING: --dns1 argument will not be supplied to chilli\n");
    } else {
      spotwarden_args_append(args, "--dns1");
      spotwarden_args_append(args, ip);
      spotwarden_args_append(args, "--dns2");
      spotwarden_args_append(args, ip);
    }
  }
  spotwarden_args_append(args, "--conf");
  spotwarden_args_append(args, args->conf);
  *out = args;
  return 0;
}

void spotwarden_args_free(spotwarden_args* args) {
  if (args == nullptr) {
    return;
  }
  free(args->radiusnasid);
  free(args->radiusnasif);
  free(args->lanif);
  free(args->radiussecret);
  free(args->conf);
  for (char** p = args->chilli_argv; *p != nullptr; ++p) {
    free(*p);
  }
  free(args->chilli_argv);
  free(args);
}

void usage() {
  printf(
      "Usage: %s <required args> [chillispot args...]\n"
      "  --radiusnasif <ethernet interface used to determine nas id>\n"
      "  --radiusnasid <radius nas id>\n"
      "  --conf | -c   <chillispot config file>\n"
      "  --lanif       <normal LAN interface, used for DNS setup>\n"
      "  Exactly one of --radiusnasif or --radiusnasid must be supplied\n"
      "  Path to the chillispot config file must be supplied\n",
      kProgName);
}
