#include "probes/radius.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "common/unique.h"
#include "probes/md5.h"
#include "os/log.h"

namespace {

constexpr size_t kAuthenticatorOffset = 4;
constexpr size_t kAuthenticatorLength = 16;

// The room after the NAS-Identifier header: 64 bytes, one more than the
// longest identifier sent.
constexpr unsigned char kAcctTemplate[102] = {
    4, 0, 0, 0,                                // Accounting-Request, Identifier, Length
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // Request Authenticator
    1, 7, '!', 'p', 'i', 'n', 'g',             // User-Name
    40, 6, 0, 0, 0, 7,                         // Acct-Status-Type = Accounting-On
    44, 3, '!',                                // Acct-Session-Id
    32, 2,                                     // NAS-Identifier, text follows
};
constexpr size_t kAcctNasidOffset = 38;

// The password is never checked by anyone: any answer, a reject included,
// proves the server alive.
constexpr unsigned char kAuthTemplate[111] = {
    1, 0, 0, 0,                                // Access-Request, Identifier, Length
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // Request Authenticator
    1, 7, '!', 'p', 'i', 'n', 'g',             // User-Name
    2, 18, 's', 'w', 'a', 'r', 'd', 'e', 'n', '-', 'p', 'r', 'o', 'b', 'e', '-', 'p', 'w',
    32, 2,                                     // NAS-Identifier, text follows
};
constexpr size_t kAuthNasidOffset = 47;

struct RequestKind {
  const unsigned char* request_template;
  size_t template_size;
  size_t nasid_offset;
  int port;
  const char* function;
  const char* what;
};

constexpr RequestKind kAcct = {kAcctTemplate, sizeof kAcctTemplate, kAcctNasidOffset, kRadiusAcctPort,
                               "test_radius_acct", "accounting"};
constexpr RequestKind kAuth = {kAuthTemplate, sizeof kAuthTemplate, kAuthNasidOffset, kRadiusAuthPort,
                               "test_radius_auth", "authentication"};

// Message-Authenticator attribute (RFC 3579, section 3.2): type, length and
// a 16-byte HMAC-MD5.
constexpr unsigned char kMessageAuthenticatorType = 80;
constexpr size_t kMessageAuthenticatorSize = 2 + kMd5DigestLength;

// `signed_request` adds a Message-Authenticator after the NAS-Identifier.
int run_probe(const RequestKind& kind, const char* server, const char* nasid, const char* secret,
              int retries, int timeout, bool signed_request) {
  unsigned char packet[sizeof kAuthTemplate + kMessageAuthenticatorSize];
  memcpy(packet, kind.request_template, kind.template_size);
  size_t n = strlen(nasid);
  if (n > kProbeNasidMax) {
    LOG("%s: nasid too long, giving up", kind.function);
    return -1;
  }
  size_t signature_at = kind.nasid_offset + n;
  size_t length = signature_at + (signed_request ? kMessageAuthenticatorSize : 0);
  packet[2] = static_cast<unsigned char>(length >> 8);
  packet[3] = static_cast<unsigned char>(length);
  packet[kind.nasid_offset - 1] = static_cast<unsigned char>(n + 2);
  memcpy(packet + kind.nasid_offset, nasid, n);
  if (signed_request) {
    packet[signature_at] = kMessageAuthenticatorType;
    packet[signature_at + 1] = kMessageAuthenticatorSize;
    memset(packet + signature_at + 2, 0, kMd5DigestLength);
  }
  packet[1] = static_cast<unsigned char>(random());
  const char* key = secret ? secret : kDefaultRadiusSecret;
  fill_radius_authenticator(packet, length, key);
  // Signed last: the HMAC covers the Request Authenticator.
  if (signed_request) {
    fill_message_authenticator(packet, length, signature_at, key);
  }

  unsigned char reply[kRadiusReplySize];
  if (test_radius(server, kind.port, packet, length, reply, sizeof reply, retries, timeout) != 0) {
    return -1;
  }
  LOG("%s: radius %s test to [%s] successful", kind.function, kind.what, server);
  return 0;
}

}  // namespace

UniqueFd new_radius_socket(const char* server, int port, int timeout) {
  struct sockaddr_in address;
  int count = 0;
  if (fill_sockaddr(&address, 1, &count, server, port) != 0) {
    return UniqueFd();
  }
  if (count == 0) {
    LOG("%s: WARNING: no A records found for [%s]", "new_radius_socket", server);
    return UniqueFd();
  }
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
  if (!fd) {
    LOG("%s: socket(): %s\n", "new_radius_socket", strerror(errno));
    return UniqueFd();
  }
  if (connect(fd.get(), reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
    LOG("%s: connect(): %s\n", "new_radius_socket", strerror(errno));
    return UniqueFd();
  }
  if (set_probe_receive_timeout(fd.get(), timeout) != 0) {
    LOG("%s: setsockopt(): %s", "new_radius_socket", strerror(errno));
    return UniqueFd();
  }
  return fd;
}

void fill_radius_authenticator(unsigned char* packet, size_t length, const char* secret) {
  memset(packet + kAuthenticatorOffset, 0, kAuthenticatorLength);
  Md5Context md5;
  md5_init(&md5);
  md5_append(&md5, packet, length);
  md5_append(&md5, secret, strlen(secret));
  unsigned char digest[kMd5DigestLength];
  // A failed digest leaves zeros: the server drops the request and the probe
  // fails, which is the honest outcome.
  md5_finish(&md5, digest);
  memcpy(packet + kAuthenticatorOffset, digest, kAuthenticatorLength);
}

void fill_message_authenticator(unsigned char* packet, size_t length, size_t offset, const char* secret) {
  unsigned char* value = packet + offset + 2;
  memset(value, 0, kMd5DigestLength);
  unsigned char mac[kMd5DigestLength];
  // As with the Request Authenticator, a failed digest leaves zeros that
  // the server refuses.
  hmac_md5(secret, strlen(secret), packet, length, mac);
  memcpy(value, mac, kMd5DigestLength);
}

int test_radius(const char* server, int port, const unsigned char* packet, size_t length,
                unsigned char* reply, size_t reply_size, int retries, int timeout) {
  UniqueFd fd = new_radius_socket(server, port, timeout);
  if (!fd) {
    LOG("%s: failed to create radius socket\n", "test_radius");
    return -1;
  }
  int attempt = 0;
  do {
    if (send(fd.get(), packet, length, 0) < 0) {
      LOG("%s: send(): %s", "test_radius", strerror(errno));
      return -1;
    }
    if (recv(fd.get(), reply, reply_size, 0) >= 0) {
      return 0;
    }
    if (errno == EINTR) {
      LOG("%s: recv() interrupted by signal, retrying", "test_radius");
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      DEBUG("%s: no reply received for radius packet\n", "test_radius");
    } else {
      LOG("%s: recv(): %s", "test_radius", strerror(errno));
      return -1;
    }
    ++attempt;
  } while (attempt <= retries);
  return -1;
}

int test_radius_acct(const char* server, const char* nasid, const char* secret, int retries, int timeout) {
  return run_probe(kAcct, server, nasid, secret, retries, timeout, false);
}

int test_radius_auth(const char* server, const char* nasid, const char* secret, int retries, int timeout) {
  return run_probe(kAuth, server, nasid, secret, retries, timeout, false);
}

int test_radius_auth_signed(const char* server, const char* nasid, const char* secret, int retries,
                            int timeout) {
  return run_probe(kAuth, server, nasid, secret, retries, timeout, true);
}
