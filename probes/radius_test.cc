#include "probes/radius.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/python_oracle.h"
#include "tests/support/log_capture.h"
#include "tests/support/namespaces.h"

namespace {

// The request as RFC 2865/2866 lay it out, built with struct and hashlib;
// "auth-signed" adds the Message-Authenticator of RFC 3579, made with hmac.
const char kRequestOracle[] = R"(
import hashlib, hmac, struct, sys
kind, ident, nasid, secret = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode(), sys.argv[4].encode()
attrs = bytes([1, 7]) + b"!ping"
if kind == "acct":
    code = 4
    attrs += bytes([40, 6]) + struct.pack(">I", 7) + bytes([44, 3]) + b"!"
else:
    code = 1
    attrs += bytes([2, 18]) + b"swarden-probe-pw"
attrs += bytes([32, len(nasid) + 2]) + nasid
if kind == "auth-signed":
    attrs += bytes([80, 18]) + bytes(16)
head = struct.pack(">BBH", code, ident, 20 + len(attrs))
auth = hashlib.md5(head + bytes(16) + attrs + secret).digest()
if kind == "auth-signed":
    attrs = attrs[:-16] + hmac.new(secret, head + auth + attrs, hashlib.md5).digest()
sys.stdout.write((head + auth + attrs).hex())
)";

// A UDP "server" on 127.0.0.1 at the probe's fixed port, on a loopback of
// the test's own (as root), so that neither a RADIUS server of the host nor
// a test run beside it shares the port. Binding waits while another test
// holds the port, so test cases never see each other's packets.
class LocalServer {
 public:
  explicit LocalServer(int port) {
    private_loopback();
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 600; ++i) {
      if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        bound_ = true;
        break;
      }
      usleep(100 * 1000);
    }
  }
  ~LocalServer() {
    if (answerer_.joinable()) {
      answerer_.join();
    }
    close(fd_);
  }
  bool bound() const { return bound_; }

  // Answers the first datagram with an empty one after `delay_ms`.
  void answer_first(int delay_ms) {
    answerer_ = std::thread([this, delay_ms] {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) {
        return;
      }
      unsigned char buf[600];
      sockaddr_in peer;
      socklen_t len = sizeof peer;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &len);
      if (n >= 0) {
        received_.emplace_back(to_hex(buf, static_cast<size_t>(n)));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      sendto(fd_, "", 0, 0, reinterpret_cast<sockaddr*>(&peer), len);
    });
  }

  // Every datagram received, as hex; waits for the answering thread first.
  std::vector<std::string> received() {
    if (answerer_.joinable()) {
      answerer_.join();
    }
    unsigned char buf[600];
    ssize_t n;
    while ((n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) >= 0) {
      received_.emplace_back(to_hex(buf, static_cast<size_t>(n)));
    }
    return received_;
  }

 private:
  int fd_;
  bool bound_ = false;
  std::thread answerer_;
  std::vector<std::string> received_;
};

struct Case {
  const char* kind;
  int (*probe)(const char*, const char*, const char*, int, int);
  int port;
  const char* nasid;
  const char* secret;  // nullptr: the default
  size_t length;
};

// Runs the probe of `c` against a local server that answers at once and
// checks the one datagram it got against the oracle, and the success line.
void expect_exact_request(const Case& c, unsigned seed) {
  SCOPED_TRACE(std::string(c.kind) + " " + c.nasid);
  LocalServer server(c.port);
  ASSERT_TRUE(server.bound());
  server.answer_first(0);
  srandom(seed);
  int identifier = static_cast<int>(random() & 0xff);
  srandom(seed);
  LogCapture logs;
  ASSERT_EQ(0, c.probe("127.0.0.1", c.nasid, c.secret, 0, 3));
  std::vector<std::string> got = server.received();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(c.length * 2, got[0].size());
  EXPECT_EQ(run_python(kRequestOracle, {c.kind, std::to_string(identifier), c.nasid,
                                        c.secret ? c.secret : "kestrelmoss9"}),
            got[0]);
  bool acct = std::string(c.kind) == "acct";
  EXPECT_TRUE(logs.contains(LOG_NOTICE, std::string("spotwarden: test_radius_") + (acct ? "acct" : "auth") +
                                            ": radius " + (acct ? "accounting" : "authentication") +
                                            " test to [127.0.0.1] successful"));
}

const char kLongestNasid[] = "abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUVWXYZ-012345678";

TEST(RadiusProbe, SendsTheExactRequestAndSucceedsOnAnEmptyReply) {
  const char* mac = "00-1A-2B-3C-4D-5E";
  ASSERT_EQ(17u, strlen(mac));
  ASSERT_EQ(63u, strlen(kLongestNasid));
  const Case cases[] = {
      {"acct", test_radius_acct, kRadiusAcctPort, mac, "s3cret", 55},
      {"auth", test_radius_auth, kRadiusAuthPort, mac, "s3cret", 64},
      {"acct", test_radius_acct, kRadiusAcctPort, kLongestNasid, nullptr, 101},
      {"auth", test_radius_auth, kRadiusAuthPort, kLongestNasid, nullptr, 110},
  };
  unsigned seed = 4242;
  for (const Case& c : cases) {
    expect_exact_request(c, ++seed);
  }
}

TEST(RadiusProbe, SignedAccessRequestEndsWithTheHmacOfThePacketUnderTheSecret) {
  const Case cases[] = {
      {"auth-signed", test_radius_auth_signed, kRadiusAuthPort, "00-1A-2B-3C-4D-5E", "s3cret", 82},
      {"auth-signed", test_radius_auth_signed, kRadiusAuthPort, kLongestNasid, nullptr, 128},
  };
  unsigned seed = 77;
  for (const Case& c : cases) {
    expect_exact_request(c, ++seed);
  }
}

TEST(RadiusProbe, NasidOf64CharactersSendsNothing) {
  std::string nasid(64, 'x');
  using Probe = int (*)(const char*, const char*, const char*, int, int);
  for (auto [name, probe, port] : {std::tuple<const char*, Probe, int>{"test_radius_acct", test_radius_acct, kRadiusAcctPort},
                                   std::tuple<const char*, Probe, int>{"test_radius_auth", test_radius_auth, kRadiusAuthPort}}) {
    LocalServer server(port);
    ASSERT_TRUE(server.bound());
    LogCapture logs;
    EXPECT_EQ(-1, probe("127.0.0.1", nasid.c_str(), nullptr, 0, 1));
    EXPECT_TRUE(server.received().empty());
    EXPECT_TRUE(logs.contains(LOG_NOTICE, std::string("spotwarden: ") + name + ": nasid too long, giving up"));
  }
}

TEST(RadiusProbe, SilentServerGetsRetriesPlusOneIdenticalDatagramsAndAtLeastOne) {
  LocalServer server(kRadiusAcctPort);
  ASSERT_TRUE(server.bound());
  {
    LogCapture logs;
    EXPECT_EQ(-1, test_radius_acct("127.0.0.1", "nas", "s", 2, 1));
    std::vector<std::string> got = server.received();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(got[0], got[2]);
    EXPECT_EQ(3, logs.count("spotwarden: test_radius: no reply received for radius packet|"));
    EXPECT_TRUE(logs.contains(LOG_DEBUG, "no reply received for radius packet"));
  }
  EXPECT_EQ(-1, test_radius_acct("127.0.0.1", "nas", "s", -3, 1));
  EXPECT_EQ(1u, server.received().size() - 3);
}

// Linux delivers 0.0.0.0 to the host itself: a server that is no address
// must never be "proved" by whatever listens on the router.
TEST(RadiusProbe, UnspecifiedAddressIsNeverProbed) {
  LocalServer server(kRadiusAcctPort);
  ASSERT_TRUE(server.bound());
  LogCapture logs;
  EXPECT_EQ(-1, test_radius_acct("0.0.0.0", "nas", "s", 0, 1));
  EXPECT_TRUE(server.received().empty());
  EXPECT_TRUE(logs.contains(LOG_NOTICE, "spotwarden: new_radius_socket: WARNING: no A records found for [0.0.0.0]"));
}

TEST(RadiusProbe, ZeroTimeoutStillGivesUpInsteadOfWaitingForALateReply) {
  LocalServer server(kRadiusAuthPort);
  ASSERT_TRUE(server.bound());
  // Without a timeout the probe would block until this reply and succeed.
  server.answer_first(3000);
  EXPECT_EQ(-1, test_radius_auth("127.0.0.1", "nas", nullptr, 0, 0));
}

}  // namespace
