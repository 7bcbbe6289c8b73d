// SPDX-License-Identifier: GPL-2.0-or-later
// Device URIs turned into host and port through the CUPS library's private
// resolver, host names into addresses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "side_test_support.h"

namespace lumora::test {

using sidechannel::Probe;

namespace {

TEST(DeviceAddress, ResolverIsFoundInTheSystemCupsLibrary) {
  void* cups = dlopen("libcups.so.2", RTLD_LAZY);
  ASSERT_NE(cups, nullptr);
  EXPECT_NE(dlsym(cups, "_httpResolveURI"), nullptr);
  dlclose(cups);
}

TEST(DeviceAddress, NetworkUrisGiveHostAndPort) {
  struct Case {
    const char* uri;
    const char* out;  // probe's line: preset port 9100
  } cases[] = {
      {"socket://127.0.0.1:9100", "result=1 host=127.0.0.1 port=9100\n"},
      {"socket://printer.example", "result=1 host=printer.example port=9100\n"},
      {"ipp://10.1.2.3/ipp/print", "result=1 host=10.1.2.3 port=631\n"},
      {"ipp://[::1]:8631/ipp/print", "result=1 host=::1 port=8631\n"},
      {"lpd://printer/queue", "result=1 host=printer port=515\n"},
  };
  for (const auto& c : cases) {
    auto r = Probe({"host", c.uri});
    EXPECT_EQ(r.out, c.out) << c.uri;
    EXPECT_NE(r.err.find(std::string("<dnssd> resolvedURI : ") + c.uri + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("<dnssd> httpSeparateURI success.cupsret="), std::string::npos) << r.err;
    // The DNS-SD variant says the port as well.
    auto d = Probe({"dnssd", c.uri});
    EXPECT_EQ(d.out, c.out) << c.uri;
    EXPECT_NE(d.err.find(std::string(", port=") + (c.out + std::string(c.out).rfind('=') + 1)),
              std::string::npos)
        << d.err;
  }
  EXPECT_NE(Probe({"host", "socket://127.0.0.1:9100"})
                .err.find("<dnssd> httpSeparateURI success.cupsret=3, host=127.0.0.1\n"),
            std::string::npos);
}

TEST(DeviceAddress, DnssdUriFailsCleanlyWithoutMdnsDaemon) {
  // No mDNS daemon runs here: the resolver gives up, nothing is found.
  const char* uri = "dnssd://Lumora%20P1._ipp._tcp.local/?uuid=0";
  auto r = Probe({"host", uri});
  EXPECT_EQ(r.out, "result=0 host= port=9100\n");
  EXPECT_NE(r.err.find("_httpResolveURI fail.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("<dnssd> resolvedURI"), std::string::npos) << r.err;
  auto d = Probe({"dnssd", uri});
  EXPECT_EQ(d.out, "result=0 host= port=9100\n");
  EXPECT_NE(d.err.find("_httpResolveURI fail.\n"), std::string::npos) << d.err;
}

TEST(DeviceAddress, HostNameToAddress) {
  auto ok = Probe({"ip", "localhost"});
  EXPECT_EQ(ok.out, "result=0 address=127.0.0.1\n");
  if (!sidechannel::PrivateNetwork()) GTEST_SKIP() << "name look-ups only inside a private network";
  auto bad = Probe({"ip", "no-such-printer.invalid"});
  EXPECT_EQ(bad.out, "result=1 address=\n");
  EXPECT_EQ(bad.err, "DEBUG:  gethostbyname error for host:no-such-printer.invalid\n");
}

}  // namespace

}  // namespace lumora::test
