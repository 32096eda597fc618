#include "device/urlencode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encode(const char* src, int size) {
  char out[256];
  memset(out, '#', sizeof out);
  urlencode(src, out, size);
  return out;
}

TEST(UrlEncode, EscapesAllButUnreservedAndSpace) {
  EXPECT_EQ("a+b%26c", encode("a b&c", 64));
  EXPECT_EQ("%C3%A9", encode("\xC3\xA9", 64));
  EXPECT_EQ("-_.~", encode("-_.~", 64));
  EXPECT_EQ("%2F%3F%3D%25%2B%0A", encode("/?=%+\n", 64));
  EXPECT_EQ("00-1A-2B-3C-4D-5E", encode("00-1A-2B-3C-4D-5E", 64));
}

TEST(UrlEncode, NeverEndsInACutEscape) {
  EXPECT_EQ("ab", encode("ab&", 5));
  EXPECT_EQ("ab%26", encode("ab&", 6));
  EXPECT_EQ("abc", encode("abcdef", 4));
  EXPECT_EQ("", encode("abc", 1));
}

}  // namespace
