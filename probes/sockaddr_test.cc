#include "probes/sockaddr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <utility>

// musl keeps the old, 32-bit-time option's number to itself.
#if !defined(SO_RCVTIMEO_OLD) && defined(__mips__) && __SIZEOF_LONG__ == 4
#define SO_RCVTIMEO_OLD 0x1006
#endif

namespace {

TEST(ProbeTimeout, ZeroOrNegativeBecomesOneSecond) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  for (auto [asked, expected] : {std::pair{0, 1}, std::pair{-5, 1}, std::pair{7, 7}}) {
    ASSERT_EQ(0, set_probe_receive_timeout(fd, asked));
    timeval tv = {};
    socklen_t len = sizeof tv;
    ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len));
#ifdef SO_RCVTIMEO_OLD
    if (len != sizeof tv) {
      // qemu-user answers the 64-bit-time form of the query (32-bit targets
      // built with 64-bit time) with 4 bytes; it translates the old form.
      long old[2] = {};
      len = sizeof old;
      ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO_OLD, old, &len));
      tv.tv_sec = old[0];
      tv.tv_usec = old[1];
    }
#endif
    EXPECT_EQ(expected, tv.tv_sec);
    EXPECT_EQ(0, tv.tv_usec);
  }
  close(fd);
}

TEST(FillSockaddr, DottedQuadFillsTheFirstEntryAndZeroesTheRest) {
  sockaddr_in table[3];
  memset(table, 0xAB, sizeof table);
  int count = -1;
  ASSERT_EQ(0, fill_sockaddr(table, 3, &count, "198.18.0.7", 1813));
  EXPECT_EQ(1, count);
  EXPECT_EQ(htonl(0xC6120007), table[0].sin_addr.s_addr);
  for (const sockaddr_in& entry : table) {
    EXPECT_EQ(AF_INET, entry.sin_family);
    EXPECT_EQ(htons(1813), entry.sin_port);
  }
  EXPECT_EQ(0u, table[1].sin_addr.s_addr);
  EXPECT_EQ(0u, table[2].sin_addr.s_addr);
  // The router itself, not a peer: no address at all.
  ASSERT_EQ(0, fill_sockaddr(table, 3, &count, "0.0.0.0", 1813));
  EXPECT_EQ(0, count);
}

}  // namespace
