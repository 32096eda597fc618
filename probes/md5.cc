#include "probes/md5.h"

#include <string.h>

#ifdef SPOTWARDEN_MD5_LIBMD

#include <md5.h>

#include <new>

static_assert(sizeof(MD5_CTX) <= kMd5StateSize && alignof(MD5_CTX) <= 8,
              "libmd's MD5_CTX must fit Md5Context::state");

namespace {
MD5_CTX* libmd_context(Md5Context* context) {
  return std::launder(static_cast<MD5_CTX*>(static_cast<void*>(context->state)));
}
}  // namespace

// libmd's digest lives in the context itself. An abandoned one (an HMAC
// key's pad in it) is wiped, as libcrypto's release wipes its own; MD5Final
// wipes a finished one.
Md5Context::~Md5Context() { explicit_bzero(state, sizeof state); }

int md5_init(Md5Context* context) {
  MD5Init(new (context->state) MD5_CTX);
  return 0;
}

void md5_append(Md5Context* context, const void* data, size_t length) {
  MD5Update(libmd_context(context), static_cast<const unsigned char*>(data), length);
}

int md5_finish(Md5Context* context, unsigned char digest[kMd5DigestLength]) {
  MD5Final(digest, libmd_context(context));
  return 0;
}

#else

#include <openssl/err.h>
#include <openssl/evp.h>

#include "os/log.h"

namespace {

// Without MD5 (a libcrypto built without it, a provider that will not load)
// every RADIUS probe goes out with a zero authenticator, is dropped, and the
// portal shows R004 for ever: the log says why, once, not on every probe.
void md5_failed(const char* step) {
  static bool logged = false;
  if (!logged) {
    logged = true;
    char reason[256] = "no error recorded by the library";
    unsigned long code = ERR_peek_last_error();
    if (code != 0) {
      ERR_error_string_n(code, reason, sizeof reason);
    }
    LOG("MD5 unavailable, %s failed: %s; RADIUS probes go out with a zero authenticator",
        step, reason);
  }
  // The library's error queue would otherwise keep the same stale entries.
  ERR_clear_error();
}

}  // namespace

Md5Context::~Md5Context() { EVP_MD_CTX_free(evp); }

int md5_init(Md5Context* context) {
  EVP_MD_CTX_free(context->evp);
  context->evp = EVP_MD_CTX_new();
  if (context->evp == nullptr) {
    md5_failed("EVP_MD_CTX_new");
  } else if (EVP_DigestInit_ex(context->evp, EVP_md5(), nullptr) != 1) {
    md5_failed("EVP_DigestInit_ex");
  } else {
    context->failed = false;
    return 0;
  }
  context->failed = true;
  return -1;
}

void md5_append(Md5Context* context, const void* data, size_t length) {
  if (!context->failed && EVP_DigestUpdate(context->evp, data, length) != 1) {
    md5_failed("EVP_DigestUpdate");
    context->failed = true;
  }
}

int md5_finish(Md5Context* context, unsigned char digest[kMd5DigestLength]) {
  unsigned int written = 0;
  bool ok = !context->failed && EVP_DigestFinal_ex(context->evp, digest, &written) == 1 &&
            written == kMd5DigestLength;
  if (!context->failed && !ok) {
    md5_failed("EVP_DigestFinal_ex");
  }
  EVP_MD_CTX_free(context->evp);
  context->evp = nullptr;
  if (!ok) {
    memset(digest, 0, kMd5DigestLength);
    return -1;
  }
  return 0;
}

#endif

int hmac_md5(const void* key, size_t key_length, const void* data, size_t length,
             unsigned char mac[kMd5DigestLength]) {
  constexpr size_t kBlock = 64;
  unsigned char block_key[kBlock] = {};
  int failed = 0;
  if (key_length > kBlock) {
    Md5Context hashed;
    failed |= md5_init(&hashed);
    md5_append(&hashed, key, key_length);
    failed |= md5_finish(&hashed, block_key);
  } else {
    memcpy(block_key, key, key_length);
  }
  unsigned char pad[kBlock];
  for (size_t i = 0; i < kBlock; ++i) {
    pad[i] = block_key[i] ^ 0x36;
  }
  unsigned char inner_digest[kMd5DigestLength];
  Md5Context inner;
  failed |= md5_init(&inner);
  md5_append(&inner, pad, kBlock);
  md5_append(&inner, data, length);
  failed |= md5_finish(&inner, inner_digest);
  for (size_t i = 0; i < kBlock; ++i) {
    pad[i] = block_key[i] ^ 0x5c;
  }
  Md5Context outer;
  failed |= md5_init(&outer);
  md5_append(&outer, pad, kBlock);
  md5_append(&outer, inner_digest, sizeof inner_digest);
  failed |= md5_finish(&outer, mac);
  if (failed != 0) {
    memset(mac, 0, kMd5DigestLength);
    return -1;
  }
  return 0;
}
