#include "probes/md5.h"

#include <gtest/gtest.h>
#ifndef SPOTWARDEN_MD5_LIBMD
#include <openssl/evp.h>
#endif
#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/support/files.h"
#include "tests/support/log_capture.h"

namespace {

// Digests `text` fed in pieces of `piece` bytes.
std::string digest_in_pieces(const char* text, size_t piece) {
  Md5Context md5;
  EXPECT_EQ(0, md5_init(&md5));
  size_t n = strlen(text);
  for (size_t at = 0; at < n; at += piece) {
    md5_append(&md5, text + at, n - at < piece ? n - at : piece);
  }
  unsigned char digest[kMd5DigestLength];
  EXPECT_EQ(0, md5_finish(&md5, digest));
  return to_hex(digest, sizeof digest);
}

// Expected digests are the test suite of RFC 1321, appendix A.5.
TEST(Md5, MatchesReferenceDigestsWhateverTheSizeOfThePiecesAdded) {
  const char* eighty = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  for (size_t piece : {1, 7, 64, 100}) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", digest_in_pieces("", piece));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", digest_in_pieces("abc", piece));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", digest_in_pieces("message digest", piece));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a", digest_in_pieces(eighty, piece)) << piece;
  }
}

TEST(Md5, ContextStartsAfreshAfterFinish) {
  Md5Context md5;
  unsigned char digest[kMd5DigestLength];
  ASSERT_EQ(0, md5_init(&md5));
  md5_append(&md5, "junk", 4);
  ASSERT_EQ(0, md5_finish(&md5, digest));
  ASSERT_EQ(0, md5_init(&md5));
  md5_append(&md5, "abc", 3);
  ASSERT_EQ(0, md5_finish(&md5, digest));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", to_hex(digest, sizeof digest));
}

std::string hmac(const std::string& key, const std::string& data) {
  unsigned char mac[kMd5DigestLength];
  EXPECT_EQ(0, hmac_md5(key.data(), key.size(), data.data(), data.size(), mac));
  return to_hex(mac, sizeof mac);
}

// Expected values are the HMAC-MD5 test cases of RFC 2202, section 2: keys
// shorter than, and (hashed first) longer than the 64-byte block.
TEST(HmacMd5, MatchesTheReferenceValuesForShortAndLongKeys) {
  EXPECT_EQ("9294727a3638bb1c13f48ef8158bfc9d", hmac(std::string(16, '\x0b'), "Hi There"));
  EXPECT_EQ("750c783e6ab0b503eaa86e310a5db738", hmac("Jefe", "what do ya want for nothing?"));
  EXPECT_EQ("56be34521d144c88dbb8c733f0e8b3f6", hmac(std::string(16, '\xaa'), std::string(50, '\xdd')));
  std::string long_key(80, '\xaa');
  EXPECT_EQ("6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd",
            hmac(long_key, "Test Using Larger Than Block-Size Key - Hash Key First"));
  EXPECT_EQ("6f630fad67cda0ee1fb1f562db3aa53e",
            hmac(long_key, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"));
}

#ifndef SPOTWARDEN_MD5_LIBMD
// A libcrypto without MD5 fails the fetch as one restricted to FIPS providers
// does here: zero digest, one line with the library's reason, not one per probe.
TEST(Md5, DigestTheLibraryCannotFetchIsZeroAndLoggedOnceWithItsReason) {
  LogCapture logs;
  ASSERT_EQ(1, EVP_default_properties_enable_fips(nullptr, 1));
  unsigned char mac[kMd5DigestLength] = {1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(-1, hmac_md5("k", 1, "data", 4, mac));
  }
  ASSERT_EQ(1, EVP_default_properties_enable_fips(nullptr, 0));
  EXPECT_EQ(std::string(16, '\0'), std::string(reinterpret_cast<char*>(mac), sizeof mac));
  EXPECT_EQ(1, logs.count("spotwarden: MD5 unavailable, EVP_DigestInit_ex failed: error:"));
}
#endif

}  // namespace
