#include "config/chillispot_conf.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/side_file.h"
#include "common/unique.h"
#include "config/check_config_file.h"
#include "config/text_line.h"
#include "os/log.h"

// Fails when any byte cannot be written, so a full file system never yields
// a file silently cut short.
int append_secret(const char* path, const char* secret) {
  UniqueFile f(fopen(path, "a+"));
  if (!f) {
    return -1;
  }
  bool needs_newline = false;
  if (fseek(f.get(), -1, SEEK_END) == 0) {
    int last = getc(f.get());
    needs_newline = last != EOF && last != '\n';
  }
  // A stream that was read must be repositioned before it is written.
  if (fseek(f.get(), 0, SEEK_END) != 0) {
    return -1;
  }
  if (needs_newline) {
    if (fputc('\n', f.get()) == EOF || fflush(f.get()) != 0) {
      return -1;
    }
    // The line end turns a last line of bare "radiussecret" into the
    // operator's own (empty) secret, which must not be shadowed by a second
    // secret line further down.
    UniqueCString completed(chillispot_conf_get_param(path, "radiussecret"));
    if (completed) {
      return f.close() == 0 ? 0 : -1;
    }
  }
  if (fprintf(f.get(), "radiussecret %s\n", secret) < 0) {
    return -1;
  }
  return f.close() == 0 ? 0 : -1;
}

char* chillispot_conf_get_param(const char* path, const char* name) {
  UniqueFile f(fopen(path, "r"));
  if (!f) {
    LOG("%s: failed to open '%s': %s", "chillispot_conf_get_param", path, strerror(errno));
    return nullptr;
  }
  size_t name_len = strlen(name);
  char line[kLinePiece];
  while (fgets(line, sizeof line, f.get())) {
    char* p = skip_space(line);
    if (*p == '\0' || *p == '#' || strncmp(p, name, name_len) != 0) {
      continue;
    }
    // The name must end at whitespace, so "radiusserver10" never answers
    // "radiusserver1"; a piece that ends right after the name is no setting.
    if (!is_space(p[name_len])) {
      continue;
    }
    char* value = skip_space(p + name_len);
    trim_end(value);
    return strdup_or_die(value, "chillispot_conf_get_param");
  }
  return nullptr;
}

int compare_files(const char* a, const char* b) {
  UniqueFile fa(fopen(a, "r"));
  UniqueFile fb(fopen(b, "r"));
  if (!fa || !fb) {
    LOG("error opening files for compare\n");
    return -1;
  }
  int ca;
  for (;;) {
    ca = getc_unlocked(fa.get());
    if (ca == EOF) {
      break;
    }
    if (getc_unlocked(fb.get()) != ca) {
      break;
    }
  }
  if (ca == EOF && feof(fa.get()) && getc_unlocked(fb.get()) == EOF && !ferror(fb.get())) {
    return 0;
  }
  return ferror(fa.get()) || ferror(fb.get()) ? -1 : 1;
}

void chillispot_conf_keep_mode(int fd, const char* path) {
  struct stat side;
  if (fstat(fd, &side) != 0 || !S_ISREG(side.st_mode)) {
    return;
  }
  struct stat current;
  if (stat(path, &current) != 0) {
    fchmod(fd, 0600);
    return;
  }
  // The owner first: a change of owner may clear set-id bits of the mode.
  if ((current.st_uid != side.st_uid || current.st_gid != side.st_gid) &&
      fchown(fd, current.st_uid, current.st_gid) != 0) {
    DEBUG("new '%s' cannot keep its owner: %s\n", path, strerror(errno));
  }
  fchmod(fd, current.st_mode & 07777);
}

int chillispot_conf_update(const char* url, const char* path, const char* secret) {
  LOG("attempting to update chillispot config file\n");
  // The download goes into a side file made afresh and private (it may hold
  // the secret). One that cannot be made fails the download as wget does,
  // and is never installed.
  SideFile side(path, 0600);
  if (checked_download(url, side.side_path(), kChilliConfName) != 0) {
    LOG("config file download failed, will retry later...\n");
    return -1;
  }

  // Any secret the operator set, even a bare "radiussecret", wins over ours.
  UniqueCString own_secret(chillispot_conf_get_param(side.side_path(), "radiussecret"));
  if (!own_secret && secret && append_secret(side.side_path(), secret) != 0) {
    LOG("%s: Aieeee!!! Problem appending RADIUS shared secret!!!", "chillispot_conf_update");
    return -1;
  }

  // With no current file (removed while running) there is nothing to
  // compare: the checked download is installed.
  bool have_current = access(path, F_OK) == 0 || errno != ENOENT;
  switch (have_current ? compare_files(path, side.side_path()) : 1) {
    case 0:
      DEBUG("chillispot config file unchanged, no update required\n");
      return 0;
    case -1:
      DEBUG("failed to compare chillispot config file during update\n");
      return -1;
    default:
      break;
  }
  // Whatever reads the installed file today must still be able to.
  chillispot_conf_keep_mode(side.fd(), path);
  if (side.commit() != 0 && !side.in_place()) {
    LOG("failed to rename '%s' to '%s': %s\n", side.side_path(), path, strerror(side.error()));
    return -1;
  }
  return 1;
}

void chillispot_conf_report_installed(const char* path) {
  LOG("chillispot config file updated\n");
  UniqueCString uamserver(chillispot_conf_get_param(path, "uamserver"));
  if (uamserver) {
    LOG("uamserver = %s", uamserver.get());
  } else {
    LOG("warning, uamserver not found in '%s'!", path);
  }
}
