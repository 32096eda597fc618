#include "supervisor/args.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"

namespace {

// Parses a command line; returns the portal vector joined by spaces, or
// "<rejected>".
struct Parsed {
  int rc;
  std::string vector;
  spotwarden_args* args = nullptr;
  ~Parsed() { spotwarden_args_free(args); }
};

void parse(std::vector<std::string> words, Parsed* p) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  p->rc = spotwarden_args_parse(&p->args, static_cast<int>(words.size()), argv.data());
  if (p->rc != 0) {
    return;
  }
  for (char** a = p->args->chilli_argv; *a; ++a) {
    p->vector += (p->vector.empty() ? "" : " ") + std::string(*a);
  }
}

TEST(ArgsParse, PassThroughInOrderAndConfLast) {
  Parsed p;
  parse({"spotwarden", "--radiusnasid", "N1", "-c", "/etc/c.conf", "-x", "y"}, &p);
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ("chilli -x y --conf /etc/c.conf", p.vector);
  EXPECT_STREQ("N1", p.args->radiusnasid);
  EXPECT_STREQ("/etc/c.conf", p.args->conf);
}

TEST(ArgsParse, OptionValuesAreTakenWhateverTheyLookLikeAndLaterOnesWin) {
  Parsed p;
  parse({"spotwarden", "--conf=/x", "--radiusnasid", "-h", "--radiussecret", "s1", "--conf", "/a",
         "--radiussecret", "s2", "-c", "--conf", "--debug"},
        &p);
  ASSERT_EQ(0, p.rc);
  EXPECT_STREQ("-h", p.args->radiusnasid);
  EXPECT_STREQ("s2", p.args->radiussecret);
  EXPECT_STREQ("--conf", p.args->conf);
  EXPECT_EQ("chilli --conf=/x --debug --conf --conf", p.vector);
}

TEST(ArgsParse, LanAddressGivesBothDnsOptionsBeforeConf) {
  Parsed p;
  parse({"spotwarden", "--lanif", "lo", "--radiusnasid", "N", "-c", "/c", "--foo", "bar"}, &p);
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ("chilli --foo bar --dns1 127.0.0.1 --dns2 127.0.0.1 --conf /c", p.vector);
}

TEST(ArgsParse, MissingLanAddressWarnsAndLeavesDnsOut) {
  LogCapture logs;
  testing::internal::CaptureStderr();
  Parsed p;
  parse({"spotwarden", "--lanif", "nosuch0", "--radiusnasid", "N", "-c", "/c"}, &p);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ("chilli --conf /c", p.vector);
  auto msgs = logs.messages();
  ASSERT_EQ(2u, msgs.size());
  EXPECT_EQ(LOG_NOTICE, msgs[0].first);
  EXPECT_EQ("spotwarden: spotwarden_args_parse: error getting LAN IP from interface: nosuch0|",
            msgs[0].second);
  EXPECT_EQ("spotwarden: WARNING: --dns1 argument will not be supplied to chilli|", msgs[1].second);
}

TEST(ArgsParse, RejectionsLogNothingButTheInterfaceFailure) {
  LogCapture logs;
  const std::vector<std::vector<std::string>> rejected = {
      {"spotwarden", "--help"},
      {"spotwarden", "--radiusnasid", "N", "-c", "/c", "-h"},
      {"spotwarden", "--help", "--radiusnasid", "N", "-c", "/c"},
      {"spotwarden", "--radiusnasid", "N", "--radiusnasif", "lo", "-c", "/c"},
      {"spotwarden", "-c", "/c", "-x"},
      {"spotwarden", "--radiusnasid", "N", "--lanif", "lo"},
      {"spotwarden", "--radiusnasid", "N", "-c"},
      {"spotwarden", "-c", "/c", "--radiusnasid"},
      {"spotwarden", "--radiusnasid", "N", "-c", "/c", "--lanif"},
  };
  for (const auto& words : rejected) {
    Parsed p;
    parse(words, &p);
    EXPECT_EQ(-1, p.rc) << words.back();
    EXPECT_EQ(nullptr, p.args);
  }
  EXPECT_TRUE(logs.messages().empty());

  testing::internal::CaptureStderr();
  Parsed p;
  parse({"spotwarden", "--radiusnasif", "lo", "-c", "/c"}, &p);
  EXPECT_EQ("getnasid: lo is not an ethernet interface!\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(-1, p.rc);
  auto msgs = logs.messages();
  ASSERT_EQ(1u, msgs.size());
  EXPECT_EQ("spotwarden: spotwarden_args_parse: error getting radiusnasid from interface: lo",
            msgs[0].second);
}

TEST(ArgsAppend, NullIsSkippedAndVectorStaysTerminated) {
  spotwarden_args* args = nullptr;
  spotwarden_args_new(&args, 1);
  spotwarden_args_append(args, "a");
  spotwarden_args_append(args, nullptr);
  spotwarden_args_append(args, "b");
  EXPECT_STREQ("a", args->chilli_argv[0]);
  EXPECT_STREQ("b", args->chilli_argv[1]);
  EXPECT_EQ(nullptr, args->chilli_argv[2]);
  EXPECT_EQ(&args->chilli_argv[2], args->append_at);
  spotwarden_args_free(args);
}

TEST(Usage, SevenLinesNamingTheProgram) {
  testing::internal::CaptureStdout();
  usage();
  EXPECT_EQ(
      "Usage: spotwarden <required args> [chillispot args...]\n"
      "  --radiusnasif <ethernet interface used to determine nas id>\n"
      "  --radiusnasid <radius nas id>\n"
      "  --conf | -c   <chillispot config file>\n"
      "  --lanif       <normal LAN interface, used for DNS setup>\n"
      "  Exactly one of --radiusnasif or --radiusnasid must be supplied\n"
      "  Path to the chillispot config file must be supplied\n",
      testing::internal::GetCapturedStdout());
}

}  // namespace
