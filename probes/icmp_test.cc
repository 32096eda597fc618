#include "probes/icmp.h"

#include <gtest/gtest.h>
#include <string.h>
#include <syslog.h>

#include <string>

#include "tests/support/python_oracle.h"
#include "tests/support/log_capture.h"

namespace {

// The probe message before telemetry and checksum, built with struct.
const char kProbeOracle[] = R"(
import struct, sys
ident, nasid = int(sys.argv[1]), sys.argv[2].encode()
head = struct.pack(">BBHHHBBH4s", 8, 0, 0, ident, 0, 1, 0, len(nasid) + 27, b"ZELV")
sys.stdout.write((head + bytes(18) + nasid + b"\0").hex())
)";

TEST(IcmpProbe, MessageLayoutAndLengthForShortLongestAndEmptyIdentifiers) {
  const struct {
    const char* nasid;
    size_t length;
  } cases[] = {
      {"00-1A-2B-3C-4D-5E", 52},
      {"abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUVWXYZ-012345678", 98},
      {"", 35},
  };
  for (const auto& c : cases) {
    unsigned char message[kIcmpMessageMax];
    memset(message, 0xEE, sizeof message);
    size_t length = icmp_build_probe(message, 0xBEEF, c.nasid);
    ASSERT_EQ(c.length, length) << c.nasid;
    EXPECT_EQ(run_python(kProbeOracle, {std::to_string(0xBEEF), c.nasid}), to_hex(message, length));
    EXPECT_EQ(std::string(kIcmpMessageMax - length, '\0'),
              std::string(reinterpret_cast<char*>(message) + length, kIcmpMessageMax - length));
  }
}

TEST(IcmpProbe, IdentifierOf64CharactersIsReplacedByTooBig) {
  LogCapture logs;
  unsigned char message[kIcmpMessageMax];
  ASSERT_EQ(42u, icmp_build_probe(message, 7, std::string(64, 'x').c_str()));
  EXPECT_EQ(run_python(kProbeOracle, {"7", "TOOBIG!"}), to_hex(message, 42));
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: test_ping: nasid is too big to send in ICMP!"));
}

// Vectors worked by hand from RFC 1071's example words 0001 f203 f4f5 f6f7
// (sum ddf2, checksum 220d); the odd case adds 0x80 as the word 8000.
TEST(IcmpChecksum, EvenAndOddLengths) {
  const unsigned char even[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7, 0x80};
  EXPECT_EQ(0x220d, icmp_checksum(even, 8));
  EXPECT_EQ(0xa20c, icmp_checksum(even, 9));
  EXPECT_EQ(0xffff, icmp_checksum(even, 0));
  // A message carrying its checksum sums to all ones, whatever its parity.
  for (const char* nasid : {"00-1A-2B-3C-4D-5E", "00-1A-2B-3C-4D-5EF"}) {
    unsigned char message[kIcmpMessageMax];
    size_t length = icmp_build_probe(message, 0x1234, nasid);
    fill_icmp_sysinfo(message);
    icmp_seal(message, length);
    EXPECT_EQ(0, icmp_checksum(message, length)) << nasid;
  }
}

TEST(IcmpTelemetry, PackedBigEndianWithMemoryUnitWrappingTo32Bits) {
  unsigned char message[kIcmpMessageMax] = {};
  struct sysinfo info = {};
  info.uptime = 0x01020304;
  info.loads[0] = 0x18000;  // 1.5
  info.totalram = 0x00100001;
  info.freeram = 0x10;
  info.mem_unit = 4096;
  info.procs = 0x1234;
  pack_icmp_sysinfo(message, info);
  // 0x00100001 * 4096 = 0x1_0000_1000: the low 32 bits are 0x00001000.
  EXPECT_EQ("01020304" "00018000" "00001000" "00010000" "1234", to_hex(message + 16, 18));

  info.mem_unit = 0;
  info.totalram = 0x89abcdef;
  pack_icmp_sysinfo(message, info);
  EXPECT_EQ("89abcdef" "00000010", to_hex(message + 24, 8));
}

TEST(IcmpTelemetry, RealFiguresAreFilledIn) {
  unsigned char message[kIcmpMessageMax] = {};
  fill_icmp_sysinfo(message);
  struct sysinfo info;
  ASSERT_EQ(0, sysinfo(&info));
  long uptime = message[16] << 24 | message[17] << 16 | message[18] << 8 | message[19];
  EXPECT_LE(info.uptime - uptime, 2);
  EXPECT_GT(message[32] << 8 | message[33], 0);
}

// An IPv4 datagram as the raw socket returns it: 20-byte header, then ICMP.
std::string reply(uint8_t type, uint16_t id, const char* magic) {
  std::string d(20, '\0');
  d += static_cast<char>(type);
  d += std::string(3, '\0');
  d += static_cast<char>(id >> 8);
  d += static_cast<char>(id & 0xff);
  d += std::string(6, '\0');
  d += magic;
  return d;
}

bool matches(const std::string& d, size_t length, uint16_t id) {
  return icmp_reply_matches(reinterpret_cast<const unsigned char*>(d.data()), length, id);
}

TEST(IcmpReply, AcceptsOnlyEchoRepliesWithOurIdentifierAndMagic) {
  EXPECT_TRUE(matches(reply(0, 0xBEEF, "ZELV"), 36, 0xBEEF));
  EXPECT_FALSE(matches(reply(0, 0xBEEE, "ZELV"), 36, 0xBEEF)) << "someone else's ping";
  EXPECT_FALSE(matches(reply(3, 0xBEEF, "ZELV"), 36, 0xBEEF)) << "destination unreachable";
  EXPECT_FALSE(matches(reply(0, 0xBEEF, "ZELX"), 36, 0xBEEF));
  EXPECT_FALSE(matches(reply(8, 0xBEEF, "ZELV"), 36, 0xBEEF)) << "our own request";
  // A 35-byte datagram lacks the last magic byte; the "V" still lying in
  // the buffer must not complete it.
  EXPECT_FALSE(matches(reply(0, 0xBEEF, "ZELV"), 35, 0xBEEF));
  EXPECT_FALSE(matches(reply(0, 0xBEEF, "ZELV"), 0, 0xBEEF));
}

}  // namespace
