#include "bandwidth/gateways.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_ping.h"

namespace {

std::string gateway_of(const char* line) {
  char gw[kHostSize] = "junk";
  trace_line_gateway(line, gw, sizeof gw);
  return gw;
}

TEST(TraceLine, AddressComesFromTheParenthesisedThirdToken) {
  EXPECT_EQ("198.18.10.1", gateway_of(" 1  gw1 (198.18.10.1)  0.101 ms  0.050 ms  0.040 ms\n"));
  EXPECT_EQ("198.18.10.1", gateway_of(" 1  gw1 ((198.18.10.1)  0.1 ms\n"));
  // Last token of the line: its closing parenthesis still goes.
  EXPECT_EQ("198.18.11.2", gateway_of(" 2  gw2 (198.18.11.2)\n"));
  EXPECT_EQ("198.18.11.2", gateway_of(" 2  gw2 (198.18.11.2)"));
  EXPECT_EQ("", gateway_of(" 3  * * *\n"));
  EXPECT_EQ("", gateway_of(" 3  *\n"));
  EXPECT_EQ("", gateway_of(" 3  gw3 (((\n"));
  // A bare address keeps its last character, at the end of a line too.
  EXPECT_EQ("10.0.0.3", gateway_of(" 3  gw 10.0.0.3\n"));
  EXPECT_EQ("10.0.0.3", gateway_of(" 3  gw 10.0.0.3  1 ms\n"));
  // Names longer than 19 characters fit too.
  EXPECT_EQ("hop4.isp-backbone.example.net", gateway_of(" 4  gw4 (hop4.isp-backbone.example.net) 1 ms\n"));
  EXPECT_EQ("", gateway_of(" 4  gw4 (1.2.3.4;reboot) 1 ms\n"));
  EXPECT_EQ("", gateway_of(" 4  gw4 (`reboot`) 1 ms\n"));
}

const char kHeader[] = "tracegw: ICMP route trace to t\n30 hops max\nhop  name (address)  times\n";

TEST(ReadGateways, FourHopLinesAfterThreeHeaderLines) {
  TextFile t(std::string(kHeader) +
              " 1  a (198.18.10.1)  1 ms\n 2  * * *\n 3  c (198.18.12.2)  1 ms\n"
              " 4  d (198.18.13.2)  1 ms\n 5  e (198.18.14.2)  1 ms\n");
  char gw[kGatewayCount][kHostSize];
  read_gateways(t.f, gw);
  EXPECT_STREQ("198.18.10.1", gw[0]);
  EXPECT_STREQ("", gw[1]);
  EXPECT_STREQ("198.18.12.2", gw[2]);
  EXPECT_STREQ("198.18.13.2", gw[3]);
}

TEST(ReadGateways, ShortTraceLeavesAllEmpty) {
  TextFile t(kHeader);
  char gw[kGatewayCount][kHostSize];
  memset(gw, 'x', sizeof gw);
  read_gateways(t.f, gw);
  for (auto& g : gw) {
    EXPECT_STREQ("", g);
  }
}

TEST(ReadGateways, LongLineIsReadInPiecesThatCountAsLines) {
  std::string hop1 = " 1  a (198.18.10.1)  " + std::string(130, 'x') + "\n";
  TextFile t(std::string(kHeader) + hop1 + " 2  b (198.18.11.2)  1 ms\n 3  c (198.18.12.2)  1 ms\n");
  char gw[kGatewayCount][kHostSize];
  read_gateways(t.f, gw);
  EXPECT_STREQ("198.18.10.1", gw[0]);
  EXPECT_STREQ("", gw[1]);  // the rest of hop 1
  EXPECT_STREQ("198.18.11.2", gw[2]);
  EXPECT_STREQ("198.18.12.2", gw[3]);
}

TEST(FullLoss, OnlyAToken100PercentOnItsOwn) {
  EXPECT_EQ(1, line_reports_full_loss("1 packets transmitted, 0 packets received, 100% packet loss\n"));
  EXPECT_EQ(0, line_reports_full_loss("1 packets transmitted, 1 packets received, 0% packet loss\n"));
  EXPECT_EQ(0, line_reports_full_loss("1 packets transmitted, 0 received, 100%, packet loss\n"));
  // The line end stays on the last token.
  EXPECT_EQ(0, line_reports_full_loss("loss 100%\n"));
}

TEST(UrlHost, SecondSlashPieceWithItsPortIfSafeAndShort) {
  char host[kHostSize];
  EXPECT_EQ(0, url_host("http://vendor.example.com/support", host, sizeof host));
  EXPECT_STREQ("vendor.example.com", host);
  EXPECT_EQ(0, url_host("http://vendor.example:8080/x/y", host, sizeof host));
  EXPECT_STREQ("vendor.example:8080", host);
  EXPECT_EQ(0, url_host("http:///10.0.0.1", host, sizeof host));
  EXPECT_STREQ("10.0.0.1", host);
  for (const char* bad : {"vendor.example.com", "http://", "http://v.example;reboot/x",
                          "http://$(reboot)/", "http://-f/"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(-1, url_host(bad, host, sizeof host));
    EXPECT_STREQ("", host);
  }
  EXPECT_EQ(-1, url_host(nullptr, host, sizeof host));
  // Whole DNS names of 253 characters; 254 is no host name.
  std::string name = std::string(249, 'h') + ".com";
  EXPECT_EQ(0, url_host(("https://" + name + "/support/" + std::string(200, 'p')).c_str(), host, sizeof host));
  EXPECT_EQ(name, host);
  EXPECT_EQ(-1, url_host(("http://h" + name + "/").c_str(), host, sizeof host));
  std::string long_url = "http://v.example.com/" + std::string(kUrlSize, 'p');
  EXPECT_EQ(-1, url_host(long_url.c_str(), host, sizeof host));
}

class PingTest : public FakePingTest {};

TEST_F(PingTest, CheckPingResultNeedsANonEmptyOutputWithoutFullLoss) {
  answer_ok("10.0.0.1");
  answer("10.0.0.3", "");
  EXPECT_EQ(1, check_ping_result("10.0.0.1", "/var/tmp/p1"));
  EXPECT_EQ(0, check_ping_result("10.0.0.2", "/var/tmp/p2"));
  EXPECT_EQ(0, check_ping_result("10.0.0.3", "/var/tmp/p3"));
  EXPECT_NE(std::string::npos, read("/var/tmp/p2").find("100% packet loss"));
  EXPECT_EQ((std::vector<std::string>{"-c 1 10.0.0.1", "-c 1 10.0.0.2", "-c 1 10.0.0.3"}), pings());
  EXPECT_EQ(0, check_ping_result("10.0.0.1;touch /var/tmp/owned", "/var/tmp/p4"));
  EXPECT_EQ(3u, pings().size());
  EXPECT_EQ("<missing>", read("/var/tmp/owned"));
}

TEST_F(PingTest, FirstCandidateWhoseTargetAnswersIsChosen) {
  struct Case {
    const char* name;
    const char* gw[kGatewayCount];
    const char* answering[kGatewayCount];
    int chosen;  // candidate 1-3, 0 for none
    std::vector<std::string> pinged;
  } cases[] = {
      {"all answer", {"g1", "g2", "g3", "g4"}, {"g2", "g3", "g4"}, 1, {"-c 1 g2"}},
      {"second silent", {"g1", "g2", "g3", "g4"}, {"g3", "g4"}, 2, {"-c 1 g2", "-c 1 g3"}},
      {"second empty", {"g1", "", "g3", "g4"}, {"g3"}, 2, {"-c 1 g3"}},
      {"first empty", {"", "g2", "g3", "g4"}, {"g2"}, 1, {"-c 1 g2"}},
      {"only fourth", {"g1", "g2", "g3", "g4"}, {"g4"}, 3, {"-c 1 g2", "-c 1 g3", "-c 1 g4"}},
      {"none answer", {"g1", "g2", "g3", "g4"}, {}, 0, {"-c 1 g2", "-c 1 g3", "-c 1 g4"}},
      {"only first found", {"g1", "", "", ""}, {"g1"}, 0, {}},
  };
  const char* files[] = {"/var/tmp/ping_gw_second.txt", "/var/tmp/ping_gw_third.txt",
                         "/var/tmp/ping_gw_fourth.txt"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(fakes_.path("log").c_str());
    system(("rm -f " + fakes_.path("host.*")).c_str());
    for (const char* h : c.answering) {
      if (h) {
        answer_ok(h);
      }
    }
    char gw[kGatewayCount][kHostSize];
    for (int i = 0; i < kGatewayCount; ++i) {
      strcpy(gw[i], c.gw[i]);
    }
    GatewayPair pair = {};
    ASSERT_EQ(c.chosen ? 0 : -1, select_gateways(gw, &pair));
    EXPECT_EQ(c.pinged, pings());
    if (c.chosen) {
      EXPECT_EQ(gw[c.chosen - 1], pair.burst_host);
      EXPECT_EQ(gw[c.chosen], pair.probe_host);
      EXPECT_STREQ(files[c.chosen - 1], pair.ping_file);
    }
  }
}

}  // namespace
