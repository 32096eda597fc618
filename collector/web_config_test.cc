#include "collector/web_config.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>

#include "collector/body_cache.h"

namespace {

// A gzip stream inflated in one go, as a client does; nothing when it is not one.
std::optional<std::string> gunzip(const std::string& gz, size_t size) {
  z_stream z = {};
  EXPECT_EQ(Z_OK, inflateInit2(&z, 15 + 16));
  std::string out(size + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int done = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  bool whole = done == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole ? std::optional<std::string>(out) : std::nullopt;
}

// bcrypt of "secret" at cost 4.
constexpr char kHash[] = "$2b$04$1.TTRqytT3g7gwUbsV7JmekOniRiydIv.DU9M7rm2M4qvNvuMd6RK";

TEST(WebConfig, ExporterFormatTlsPairAndBcryptUsersEverythingElseRefused) {
  web_config c;
  std::string why;
  ASSERT_EQ(0, web_config_parse("", &c, &why));
  EXPECT_TRUE(c.cert_file.empty());
  ASSERT_EQ(0, web_config_parse(std::string("tls_server_config:\n  cert_file: /etc/c.pem\n  key_file: /etc/k.pem\n"
                                            "basic_auth_users:\n  prometheus: '") + kHash + "'\n",
                                &c, &why)) << why;
  EXPECT_EQ("/etc/c.pem", c.cert_file);
  EXPECT_EQ("/etc/k.pem", c.key_file);
  EXPECT_EQ(kHash, c.users.at("prometheus"));
  for (const char* bad : {"tls_server_config:\n  cert_file: /c\n", "tls_server_config:\n  client_ca_file: /x\n",
                          "basic_auth_users:\n  u: plaintext\n", "http_server_config:\n  http2: true\n",
                          "[1, 2]\n", "a: [\n"}) {
    why.clear();
    EXPECT_EQ(-1, web_config_parse(bad, &c, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  EXPECT_EQ("/etc/c.pem", c.cert_file) << "unchanged by a refused file";

  basic_auth auth(std::map<std::string, std::string>{{"prometheus", kHash}});
  EXPECT_TRUE(auth.enabled());
  EXPECT_TRUE(auth.allows("Basic cHJvbWV0aGV1czpzZWNyZXQ="));  // prometheus:secret
  EXPECT_TRUE(auth.allows("Basic cHJvbWV0aGV1czpzZWNyZXQ=")) << "the second time from memory";
  for (const char* bad : {"", "Basic cHJvbWV0aGV1czpzZWNyZXU=", "Basic cHJvbWV0aGV1czpzZWNyZX=",
                          "Bearer cHJvbWV0aGV1czpzZWNyZXQ=", "Basic b3RoZXI6c2VjcmV0", "Basic !!!!"}) {
    EXPECT_FALSE(auth.allows(bad)) << bad;
  }
  EXPECT_FALSE(basic_auth(std::map<std::string, std::string>{}).enabled());
}

TEST(BodyCache, OneRenderPerIntervalGzipOnRequestAndAcceptEncodingRead) {
  int64_t now = 0;
  int renders = 0;
  body_cache cache([&](std::string& out, const text_progress&) { out = "body " + std::to_string(++renders); }, 1000,
                   [&] { return now; });
  EXPECT_EQ("body 1", *cache.get(false));
  now = 999;
  EXPECT_EQ("body 1", *cache.get(false));
  std::string gz = *cache.get(true);
  EXPECT_EQ(1, renders);
  ASSERT_GE(gz.size(), 18u);
  EXPECT_EQ("\x1f\x8b", gz.substr(0, 2));
  EXPECT_EQ("body 1", gunzip(gz, 6).value_or("not gzip"));
  // Pieces deflated apart join into one stream with one checksum.
  std::string text;
  for (uint32_t i = 0; text.size() < 3 * kGzipPieceBytes + 12345; ++i) {
    text += "spotwarden_router_up{nasid=\"R" + std::to_string(i * 2654435761u) + "\"} 1\n";
  }
  EXPECT_EQ(text, gunzip(gzip_compress(text), text.size()).value_or("not gzip"));
  // Told of the text as it is written, ending just where a piece does.
  std::string whole = text.substr(0, 3 * kGzipPieceBytes);
  body_cache streamed(
      [&](std::string& out, const text_progress& grew) {
        out.reserve(whole.size());
        for (size_t at = 0; at < whole.size(); at += 1 << 20) {
          out.append(whole, at, 1 << 20);
          grew(out.data(), out.size());
        }
      },
      1000, [&] { return now; });
  EXPECT_EQ(whole, gunzip(*streamed.get(true), whole.size()).value_or("not gzip"));
  EXPECT_EQ(whole, *streamed.get(false));
  std::string empty = gzip_compress("");
  EXPECT_EQ(20u, empty.size());
  EXPECT_EQ("", gunzip(empty, 0).value_or("not gzip"));
  auto held = cache.get(false);
  now = 1000;
  EXPECT_EQ("body 2", *cache.get(false));
  EXPECT_EQ(2, renders);
  EXPECT_EQ("body 1", *held) << "a body still being sent is not written over";
  // A render that takes longer than the interval: the next request, asked
  // while it ran, takes its result.
  body_cache slow([&](std::string& out, const text_progress&) { now += 5000; out = "slow"; }, 1000,
                  [&] { return now; });
  slow.get(false);
  EXPECT_EQ(6000, now);
  slow.get(false);
  EXPECT_EQ(6000, now) << "no second render";

  for (const char* yes : {"gzip", "br, gzip", "gzip;q=0.5, br", " GZIP ", "*"}) {
    EXPECT_TRUE(accepts_gzip(yes)) << yes;
  }
  for (const char* no : {"", "br", "identity", "gzip;q=0", "deflate, br;q=1", "x-gzip"}) {
    EXPECT_FALSE(accepts_gzip(no)) << no;
  }
}

}  // namespace
