#include "probes/md5.h"

#include <openssl/evp.h>
#include <string.h>

Md5Context::~Md5Context() { EVP_MD_CTX_free(evp); }

int md5_init(Md5Context* context) {
  EVP_MD_CTX_free(context->evp);
  context->evp = EVP_MD_CTX_new();
  context->failed = context->evp == nullptr || EVP_DigestInit_ex(context->evp, EVP_md5(), nullptr) != 1;
  return context->failed ? -1 : 0;
}

void md5_append(Md5Context* context, const void* data, size_t length) {
  if (!context->failed && EVP_DigestUpdate(context->evp, data, length) != 1) {
    context->failed = true;
  }
}

int md5_finish(Md5Context* context, unsigned char digest[kMd5DigestLength]) {
  unsigned int written = 0;
  bool ok = !context->failed && EVP_DigestFinal_ex(context->evp, digest, &written) == 1 &&
            written == kMd5DigestLength;
  EVP_MD_CTX_free(context->evp);
  context->evp = nullptr;
  if (!ok) {
    memset(digest, 0, kMd5DigestLength);
    return -1;
  }
  return 0;
}
