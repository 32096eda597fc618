// The one door to the MD5 digest (RFC 1321) of the provider chosen at build
// time: OpenSSL's libcrypto through its EVP interface, or libmd's
// MD5Init/MD5Update/MD5Final (SPOTWARDEN_MD5); nothing else in the programs
// touches either. HMAC-MD5 is made here from the digest alone, so both
// providers give the same results.
#pragma once

#include <stddef.h>

struct evp_md_ctx_st;

inline constexpr size_t kMd5DigestLength = 16;
// Room for libmd's whole running digest (MD5_CTX), kept in place.
inline constexpr size_t kMd5StateSize = 96;

// One running digest. The library context is released by md5_finish() or,
// when the digest is abandoned, by the destructor.
struct Md5Context {
  Md5Context() = default;
  Md5Context(const Md5Context&) = delete;
  Md5Context& operator=(const Md5Context&) = delete;
  ~Md5Context();

  // The running digest: libcrypto's context, or libmd's in `state`
  // (md5.cc checks that it fits).
  evp_md_ctx_st* evp = nullptr;
  alignas(8) unsigned char state[kMd5StateSize] = {};
  bool failed = false;
};

// Starts a digest; -1 when the library could not provide one. The first
// failure of any step in the process is logged with the library's reason.
int md5_init(Md5Context* context);
// Adds `length` bytes to the digest.
void md5_append(Md5Context* context, const void* data, size_t length);
// Writes the 16-byte digest and releases the context; -1 (digest zeroed)
// when any step failed.
int md5_finish(Md5Context* context, unsigned char digest[kMd5DigestLength]);

// HMAC-MD5 (RFC 2104) of `length` bytes of `data` under `key`; -1 (mac
// zeroed) when a digest failed.
int hmac_md5(const void* key, size_t key_length, const void* data, size_t length,
             unsigned char mac[kMd5DigestLength]);
