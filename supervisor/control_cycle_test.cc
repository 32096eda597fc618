#include "supervisor/control_cycle.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "config/spotwarden_conf.h"
#include "probes/radius.h"
#include "tests/support/fake_programs.h"
#include "tests/support/namespaces.h"

namespace {

// A clock that moves only when the code under test pauses; every pause is kept.
std::vector<unsigned> g_pauses;
time_t g_now;
time_t fake_now() { return g_now; }
void fake_pause(unsigned seconds) {
  g_pauses.push_back(seconds);
  g_now += seconds;
}
const OsClock kFakeClock = {fake_now, fake_pause};

// Answers the first datagram to 127.0.0.1:`port` with an empty one, as any
// RADIUS server's reply proves it alive.
std::thread answer_once(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval wait = {5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at));
  return std::thread([fd] {
    unsigned char packet[600];
    sockaddr_in peer = {};
    socklen_t length = sizeof peer;
    if (recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&peer), &length) >= 0) {
      sendto(fd, "", 0, 0, reinterpret_cast<sockaddr*>(&peer), length);
    }
    close(fd);
  });
}

std::string link_target() {
  char buf[256] = {};
  return readlink("/var/run/offline-reason", buf, sizeof buf - 1) > 0 ? buf : "<none>";
}

TEST(ControlStep, R003AfterEachFailedTryThenTheRoundsWaitThenR004AndR005UntilEachProbeIsAnswered) {
  SW_SKIP_UNLESS_ROOT(private_var_run() && private_loopback(), "a private /var/run and loopback");
  FakePrograms fakes;
  // wget copies the local file its URL names and fails, as wget does, when there is none.
  fakes.program("wget", "cp \"$5\" \"$3\"");
  // Each signal with what users saw as it went: the link moves before chilli
  // is told, the status file after.
  fakes.program("killall", "echo \"$* $(readlink /var/run/offline-reason || echo none)"
                           " $(grep ^state= /var/run/spotwarden.status)\" >> \"$D/signals\"");
  fakes.write("settings", "# spotwarden.conf\nchilliconf_retries 2\nradiuscheck_retries 0\n");
  os_clock_override(&kFakeClock);
  char nasid[] = "N", conf[] = "/var/run/chilli.conf";
  spotwarden_args args{};
  args.radiusnasid = nasid;
  args.conf = conf;
  const std::string settings_url = fakes.path("settings"), portal_url = fakes.path("portal");
  control_state s{};
  control_begin(&s, &args, settings_url.c_str(), portal_url.c_str(), "?q");

  control_step(&s);
  control_step(&s);
  EXPECT_EQ((std::vector<unsigned>{2, 2, 30}), g_pauses) << "two tries of a round, then its wait";
  EXPECT_EQ("/www/zelvanet_R003.html", link_target());

  fakes.write("portal", "# chilli.conf\nradiusserver1 127.0.0.1\nradiusserver2 127.0.0.1\n");
  g_pauses.clear();
  control_step(&s);
  EXPECT_EQ(control_phase::radius_accounting, s.phase);
  EXPECT_EQ("/www/zelvanet_R002.html", link_target());
  control_step(&s);  // no server answers
  EXPECT_EQ("/www/zelvanet_R004.html", link_target());
  std::thread accounting = answer_once(kRadiusAcctPort);
  control_step(&s);
  accounting.join();
  EXPECT_EQ(control_phase::radius_authentication, s.phase);
  control_step(&s);
  EXPECT_EQ("/www/zelvanet_R005.html", link_target());
  std::thread authentication = answer_once(kRadiusAuthPort);
  control_step(&s);
  authentication.join();
  EXPECT_EQ(control_phase::online, s.phase);
  EXPECT_EQ("<none>", link_target());
  EXPECT_EQ((std::vector<unsigned>{30, 30, 2}), g_pauses) << "each failure wait, then the pause before online";
  const std::string online = " chilli none state=radius-check\n";
  EXPECT_EQ("-1 chilli /www/zelvanet_R003.html state=portal-config\n-" + std::to_string(SIGPWR) + online + "-" +
                std::to_string(SIGUSR2) + online,
            fakes.read("signals"));
  os_clock_override(nullptr);
  spotwarden_conf_free(const_cast<spotwarden_conf*>(s.settings));  // the process's, for good
}

}  // namespace
