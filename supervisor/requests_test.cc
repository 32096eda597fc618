#include "supervisor/requests.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kTail = "&model=GX4410&fwrev=GX4410-3.01-1.0.0";

TEST(RequestStrings, IdentityIsEscapedInAllThree) {
  RequestStrings r;
  request_strings_build("00-1A-2B-3C-4D-5E", "ZELVANET Cafe&Bar", 6, &r);
  EXPECT_EQ("http://" SPOTWARDEN_OPERATOR_HOST "/config/spotwarden.conf?nasid=00-1A-2B-3C-4D-5E" +
                kTail,
            r.settings_url);
  EXPECT_EQ("http://" SPOTWARDEN_OPERATOR_HOST "/config/chilli.conf?nasid=00-1A-2B-3C-4D-5E" + kTail,
            r.portal_config_url);
  EXPECT_EQ("?nasid=00-1A-2B-3C-4D-5E" + kTail + "&ssid=ZELVANET+Cafe%26Bar&channel=6",
            r.webping_query);

  request_strings_build("a b/&?=", "", -1, &r);
  EXPECT_EQ("?nasid=a+b%2F%26%3F%3D" + kTail + "&ssid=&channel=-1", r.webping_query);
}

TEST(RequestStrings, NasidNeedingEveryEscapeIsEncodedWholeAndEmptyStaysEmpty) {
  RequestStrings r;
  std::string nasid(40, '&');
  request_strings_build(nasid.c_str(), "", -1, &r);
  std::string encoded;
  for (int i = 0; i < 40; ++i) encoded += "%26";
  EXPECT_EQ("?nasid=" + encoded + kTail + "&ssid=&channel=-1", r.webping_query);
  request_strings_build("", "", 1, &r);
  EXPECT_EQ("?nasid=" + kTail + "&ssid=&channel=1", r.webping_query);
}

TEST(RequestStrings, CutAt511Characters) {
  RequestStrings r;
  std::string nasid(300, '/');  // 900 characters once encoded
  request_strings_build(nasid.c_str(), "ZELVANET", 1, &r);
  std::string settings = r.settings_url;
  ASSERT_EQ(511u, settings.size());
  EXPECT_EQ(0u, settings.find("http://" SPOTWARDEN_OPERATOR_HOST "/config/spotwarden.conf?nasid=%2F%2F"));
  EXPECT_EQ(511u, std::string(r.portal_config_url).size());
  std::string ping = r.webping_query;
  ASSERT_EQ(511u, ping.size());
  EXPECT_EQ(std::string("?nasid=") + std::string(ping.substr(7, 504)), ping);
}

}  // namespace
