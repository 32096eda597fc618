/*
 * Link-only stand-in for libcrypto: names the few EVP symbols that the MD5
 * adapter uses, so that a firmware build without a sysroot can still be
 * linked and its size measured. It is never run; every entry aborts.
 */
#include <stddef.h>
#include <stdlib.h>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_md_st EVP_MD;
typedef struct engine_st ENGINE;

EVP_MD_CTX *EVP_MD_CTX_new(void) { abort(); }
void EVP_MD_CTX_free(EVP_MD_CTX *ctx) { (void)ctx; abort(); }
const EVP_MD *EVP_md5(void) { abort(); }
int EVP_DigestInit_ex(EVP_MD_CTX *ctx, const EVP_MD *type, ENGINE *impl) {
  (void)ctx; (void)type; (void)impl;
  abort();
}
int EVP_DigestUpdate(EVP_MD_CTX *ctx, const void *d, size_t cnt) {
  (void)ctx; (void)d; (void)cnt;
  abort();
}
int EVP_DigestFinal_ex(EVP_MD_CTX *ctx, unsigned char *md, unsigned int *s) {
  (void)ctx; (void)md; (void)s;
  abort();
}
