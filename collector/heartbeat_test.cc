#include "collector/heartbeat.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "probes/icmp.h"

namespace {

// A heartbeat as the router's own encoder makes it, behind a 20-byte IPv4
// header from 198.18.0.2.
std::vector<unsigned char> datagram_from_router(const char* nasid) {
  unsigned char message[kIcmpMessageMax];
  size_t length = icmp_build_probe(message, 0x1234, nasid);
  struct sysinfo info = {};
  info.uptime = 86400 * 3 + 5;
  info.loads[0] = 98304;  // 1.5
  info.totalram = 65536;
  info.freeram = 16384;
  info.mem_unit = 1024;
  info.procs = 42;
  pack_icmp_sysinfo(message, info);
  icmp_seal(message, length);
  const unsigned char ip[20] = {0x45, 0, 0, 0, 0, 0, 0x40, 0, 64, 1, 0, 0, 198, 18, 0, 2, 198, 18, 0, 1};
  std::vector<unsigned char> d(sizeof ip + length);
  memcpy(d.data(), ip, sizeof ip);
  memcpy(d.data() + sizeof ip, message, length);
  d[2] = static_cast<unsigned char>(d.size() >> 8);
  d[3] = static_cast<unsigned char>(d.size());
  return d;
}

// Sets the ICMP checksum of `d` right again after a change.
void fix_checksum(std::vector<unsigned char>& d) {
  icmp_seal(d.data() + 20, d.size() - 20);
}

heartbeat_verdict verdict(const std::vector<unsigned char>& d) {
  heartbeat hb;
  return heartbeat_decode(d.data(), d.size(), &hb);
}

bool decodes(const std::vector<unsigned char>& d) { return verdict(d) == heartbeat_verdict::ok; }

TEST(HeartbeatDecode, ReadsEveryFieldTheRoutersEncoderWrites) {
  std::vector<unsigned char> d = datagram_from_router("00-1A-2B-3C-4D-5E");
  ASSERT_EQ(20u + 52u, d.size());
  heartbeat hb;
  ASSERT_EQ(heartbeat_verdict::ok, heartbeat_decode(d.data(), d.size(), &hb));
  EXPECT_EQ(inet_addr("198.18.0.2"), hb.source);
  EXPECT_EQ(259205u, hb.uptime);
  EXPECT_EQ(98304u, hb.load1);
  EXPECT_EQ(67108864u, hb.ram_total);
  EXPECT_EQ(16777216u, hb.ram_free);
  EXPECT_EQ(42u, hb.processes);
  EXPECT_EQ(17u, hb.nasid_length);
  EXPECT_STREQ("00-1A-2B-3C-4D-5E", hb.nasid);

  // The longest identifier, an empty one and the stand-in for a too long one.
  std::string longest(63, 'n');
  for (const std::string& id : {longest, std::string(), std::string(64, 'x')}) {
    ASSERT_EQ(heartbeat_verdict::ok, heartbeat_decode(datagram_from_router(id.c_str()).data(),
                                                      datagram_from_router(id.c_str()).size(), &hb)) << id;
    EXPECT_STREQ(id.size() > 63 ? "TOOBIG!" : id.c_str(), hb.nasid);
  }
  // IPv4 options move the message, they do not spoil it.
  std::vector<unsigned char> with_options = d;
  with_options[0] = 0x46;
  with_options.insert(with_options.begin() + 20, {1, 1, 1, 0});
  with_options[3] = static_cast<unsigned char>(with_options.size());
  EXPECT_TRUE(decodes(with_options));
}

TEST(HeartbeatDecode, RejectsEveryShortenedOrLengthenedDatagram) {
  std::vector<unsigned char> d = datagram_from_router("00-1A-2B-3C-4D-5E");
  for (size_t n = 0; n < d.size(); ++n) {
    std::vector<unsigned char> cut(d.begin(), d.begin() + static_cast<long>(n));
    EXPECT_FALSE(decodes(cut)) << n << " bytes as received";
    if (n >= 20) {
      cut[2] = static_cast<unsigned char>(n >> 8);
      cut[3] = static_cast<unsigned char>(n);
      EXPECT_FALSE(decodes(cut)) << n << " bytes with a matching IPv4 length";
    }
  }
  std::vector<unsigned char> longer = d;
  longer.push_back(0);
  longer[3] = static_cast<unsigned char>(longer.size());
  fix_checksum(longer);
  EXPECT_FALSE(decodes(longer)) << "payload length field no longer matches";
  longer[31] = static_cast<unsigned char>(longer.size() - 28);
  fix_checksum(longer);
  EXPECT_FALSE(decodes(longer)) << "a second zero ends the identifier early";
}

TEST(HeartbeatDecode, RejectsForeignAndMalformedMessages) {
  const std::vector<unsigned char> good = datagram_from_router("00-1A-2B-3C-4D-5E");
  struct Change {
    const char* what;
    size_t offset;
    unsigned char value;
    bool recompute;
    heartbeat_verdict is;  // foreign unless it carries the magic
  } changes[] = {
      {"IPv6 version", 0, 0x65, false, heartbeat_verdict::foreign},
      {"header length below 20", 0, 0x44, false, heartbeat_verdict::foreign},
      {"UDP, not ICMP", 9, 17, false, heartbeat_verdict::foreign},
      {"more fragments", 6, 0x20, false, heartbeat_verdict::malformed},
      {"fragment offset", 7, 0x01, false, heartbeat_verdict::malformed},
      {"echo reply", 20, 0, true, heartbeat_verdict::foreign},
      {"code 1", 21, 1, true, heartbeat_verdict::malformed},
      {"broken checksum", 22, 0x00, false, heartbeat_verdict::malformed},
      {"byte 8 not 1", 28, 2, true, heartbeat_verdict::malformed},
      {"byte 9 not 0", 29, 1, true, heartbeat_verdict::malformed},
      {"wrong magic", 35, 'W', true, heartbeat_verdict::foreign},
      {"identifier without terminator", 71, 'X', true, heartbeat_verdict::malformed},
      {"zero inside the identifier", 60, 0, true, heartbeat_verdict::malformed},
  };
  for (const Change& c : changes) {
    std::vector<unsigned char> d = good;
    d[c.offset] = c.value;
    if (c.offset == 22) {
      d[23] ^= 0xFF;
    }
    if (c.recompute) {
      fix_checksum(d);
    }
    EXPECT_EQ(c.is, verdict(d)) << c.what;
  }
}

}  // namespace
