// SPDX-License-Identifier: GPL-2.0-or-later
// The network side against SNMP peers on 127.0.0.1:161 inside the test's own
// network namespace: a small UDP agent (exact replies, silence, a log of
// every datagram) and net-snmp's snmpd with a pass_persist job record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "snmp_datagram.h"
#include "side_test_support.h"

namespace lumora::test {

#define LUMORA_PS_MODEL(designation, family)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL

using sidechannel::Count;
using sidechannel::EnvList;
using sidechannel::Lines;
using sidechannel::Probe;

namespace {

std::string HexOf(const SnmpDatagram& d) { return sidechannel::Hex(d.data(), d.size()); }

// "T LENGTH HEX" lines of the UDP agent.
struct Datagram {
  long ms;
  size_t length;
  std::string hex;
};

std::vector<Datagram> ParseLog(const std::string& text) {
  std::vector<Datagram> out;
  for (const auto& line : Lines(text)) {
    Datagram d{};
    char hex[4096] = {0};
    if (sscanf(line.c_str(), "%ld %zu %4095s", &d.ms, &d.length, hex) >= 2) {
      d.hex = hex;
      out.push_back(d);
    }
  }
  return out;
}

// A job record reply: `size` bytes, state 60 bytes before the end, owner
// name 4 bytes after the state.
std::string RecordReply(size_t size, int state, const std::string& owner) {
  std::string bytes(size, '\x30');
  size_t at = size - 60;
  bytes[at] = static_cast<char>(state);
  for (size_t i = at + 1; i < size; ++i) bytes[i] = '\0';
  bytes.replace(at + 4, owner.size(), owner);
  return sidechannel::Hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

class SnmpPeer : public testing::Test {
 protected:
  void SetUp() override {
    if (!sidechannel::PrivateNetwork()) GTEST_SKIP() << "needs a private network namespace (root)";
  }
  // Starts the UDP agent with "--get HEX" / "--set HEX" arguments.
  void StartUdpAgent(const std::vector<std::string>& replies) {
    std::vector<std::string> argv = {"/usr/bin/python3", sidechannel::RigPath("snmp_udp_agent.py"),
                                     dir_.File("agent.log")};
    argv.insert(argv.end(), replies.begin(), replies.end());
    agent_.reset(new sidechannel::Background(argv, dir_.File("agent.out"), dir_.File("agent.out")));
    ASSERT_TRUE(agent_->ready());
  }
  std::vector<Datagram> Received() { return ParseLog(sidechannel::ReadFile(dir_.File("agent.log"))); }

  sidechannel::TempDir dir_;
  std::unique_ptr<sidechannel::Background> agent_;
};

TEST_F(SnmpPeer, KeepaliveSendsTheSetRequestOnEveryPass) {
  StartUdpAgent({"--set", "3000"});
  auto r = Probe({"keepalive", "1100", "-1", "queue"},
                 {{"DEVICE_URI", "socket://127.0.0.1:9100"}, {"LUMORA_KEEPALIVE_INTERVAL_MS", "200"}});
  EXPECT_EQ(r.out, "thread=started\nended_before_wait=0\njoined g_bdummyEnd=1\n");
  auto got = Received();
  ASSERT_GE(got.size(), 3u);
  for (const auto& d : got) {
    EXPECT_EQ(d.length, 45u);
    EXPECT_EQ(d.hex, HexOf(BuildKeepaliveSetRequest()));
  }
}

TEST_F(SnmpPeer, KeepaliveRealCadenceIsFiveSeconds) {
  // The only slow test: the printer's own 5 s rhythm, no shortened interval.
  StartUdpAgent({"--set", "3000"});
  auto r = Probe({"keepalive", "5600", "-1", "socket://127.0.0.1:9100"});
  EXPECT_NE(r.out.find("joined g_bdummyEnd=1"), std::string::npos);
  auto got = Received();
  ASSERT_EQ(got.size(), 2u);  // at the start and 5 s later
  for (size_t i = 1; i < got.size(); ++i) {
    RecordProperty("gap_ms_" + std::to_string(i), std::to_string(got[i].ms - got[i - 1].ms));
    EXPECT_GE(got[i].ms - got[i - 1].ms, 4950);
  }
}

TEST_F(SnmpPeer, KeepaliveStopsAtOnceWhenTheJobEnds) {
  // A silent agent and the 5 s cadence: the job ends while the thread waits
  // for a reply (2 s), then while it pauses after a shortened wait. Either
  // wait ends at once, well before the next exchange would be due.
  StartUdpAgent({});
  const struct {
    const char* runMs;
    const char* replyTimeoutMs;
  } stops[] = {{"300", "2000"}, {"700", "200"}};
  for (const auto& stop : stops) {
    auto r = Probe({"keepalive-stop", stop.runMs}, {{"DEVICE_URI", "socket://127.0.0.1:9100"},
                                                    {"LUMORA_SNMP_TIMEOUT_MS", stop.replyTimeoutMs}});
    ASSERT_EQ(r.out.rfind("wait_ms=", 0), 0u) << r.out << r.err;
    long waited = std::atol(r.out.c_str() + 8);
    RecordProperty(std::string("wait_ms_after_") + stop.runMs, std::to_string(waited));
    EXPECT_LT(waited, 1000) << "stopped after " << stop.runMs << " ms";
  }
  EXPECT_EQ(Received().size(), 2u);  // one keep-alive per job, sent at the start
}

TEST_F(SnmpPeer, KeepaliveEndsOnCancelAndSurvivesSilence) {
  StartUdpAgent({});
  auto r = Probe({"keepalive", "1500", "300", "queue"},
                 {{"DEVICE_URI", "socket://127.0.0.1"},
                  {"LUMORA_KEEPALIVE_INTERVAL_MS", "100"},
                  {"LUMORA_SNMP_TIMEOUT_MS", "50"}});
  EXPECT_NE(r.out.find("ended_before_wait=1\n"), std::string::npos) << r.out << r.err;
  // One send per pass even when no reply comes.
  EXPECT_GE(Received().size(), 1u);
  for (const auto& d : Received()) EXPECT_EQ(d.length, 45u);
}

TEST_F(SnmpPeer, KeepaliveDeviceFromEnvironmentOrArgumentZero) {
  StartUdpAgent({"--set", "3000"});
  EnvList fast = {{"LUMORA_KEEPALIVE_INTERVAL_MS", "100"}};
  // No DEVICE_URI and a bare queue name: no thread at all.
  auto none = Probe({"keepalive", "300", "-1", "queue"}, fast);
  EXPECT_EQ(none.out, "thread=none\nended_before_wait=0\njoined g_bdummyEnd=1\n");
  EXPECT_EQ(none.err, "DEBUG: argv error\nDEBUG: End::g_bDammyEnd = 1\n");
  EXPECT_EQ(Received().size(), 0u);
  // No DEVICE_URI, argument 0 holding a URI: that printer is kept awake.
  auto argv0 = Probe({"keepalive", "300", "-1", "socket://127.0.0.1:9100"}, fast);
  EXPECT_NE(argv0.out.find("thread=started\n"), std::string::npos);
  EXPECT_GE(Received().size(), 1u);
  // A device without a host (a file): nothing is sent, the thread only
  // watches its flags, and SIGTERM still ends it.
  size_t before = Received().size();
  EnvList file = {{"DEVICE_URI", "file:///tmp/lumora-out"}, fast[0]};
  auto idle = Probe({"keepalive", "1200", "200", "queue"}, file);
  EXPECT_NE(idle.out.find("ended_before_wait=1\n"), std::string::npos) << idle.out;
  EXPECT_EQ(idle.err,
            "DEBUG: <dnssd> resolvedURI : file:///tmp/lumora-out\n"
            "DEBUG: <dnssd> httpSeparateURI success.cupsret=0, host=\n"
            "DEBUG: End::g_bDammyEnd = 1\n");
  EXPECT_EQ(Received().size(), before);
}

TEST_F(SnmpPeer, UnreachableHostCostsOnlyTheReplyTimeout) {
  StartUdpAgent({});  // silent: datagrams arrive, no answer
  auto once = Probe({"keepalive-once", "127.0.0.1"});
  EXPECT_EQ(Received().size(), 1u);  // sent once, then the 2 s wait
  long ms = std::atol(once.out.c_str() + once.out.find('=') + 1);
  EXPECT_GE(ms, 1950);
  EXPECT_EQ(once.err, "");

  auto query = Probe({"querynet", "127.0.0.1"}, {{"LUMORA_SNMP_TIMEOUT_MS", "50"}});
  EXPECT_EQ(query.out, "result=0 length=-1\n");
  EXPECT_EQ(Count(query.err, "<SNMP> socket sendto success. (dest_addr=127.0.0.1)\n"), 3);
  EXPECT_EQ(Count(query.err, "nRecv = -1\n"), 6);  // 3 sends x 2 waits
  EXPECT_NE(query.err.find("<-SendSNMPCmd()\n"), std::string::npos);
  EXPECT_EQ(Received().size(), 4u);

  auto unknown = Probe({"keepalive-once", "no-such-printer.invalid"});
  EXPECT_NE(unknown.err.find("getaddrinfo fail return "), std::string::npos) << unknown.err;
  auto noHost = Probe({"querynet", "not-an-address"});
  EXPECT_EQ(noHost.out, "result=0 length=0\n");
  EXPECT_EQ(Received().size(), 4u);  // nothing sent for names that do not resolve
}

TEST_F(SnmpPeer, StatusQueryReadsTheRecordTail) {
  struct Case {
    const char* name;
    std::string reply;
    int canceled;
  } cases[] = {
      {"60 bytes, own job cancelled", RecordReply(60, 0x06, "buildhost"), 1},
      {"state 0x86", RecordReply(109, 0x86, "buildhost"), 1},
      {"another computer's job", RecordReply(109, 0x06, "otherhost"), 0},
      {"state 0x07", RecordReply(109, 0x07, "buildhost"), 0},
      {"59 bytes", RecordReply(60, 0x06, "buildhost").substr(2), 0},
  };
  for (const auto& c : cases) {
    agent_.reset();
    StartUdpAgent({"--get", c.reply});
    auto r = Probe({"status", "socket://127.0.0.1:9100", "buildhost", "1500"},
                   {{"LUMORA_STATUS_POLL_MS", "20"}});
    EXPECT_EQ(r.out, "job_canceled=" + std::to_string(c.canceled) +
                         " thread_ended=" + std::to_string(c.canceled) + "\n")
        << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find("querythread::net\n"), std::string::npos);
    EXPECT_NE(r.err.find("ip:127.0.0.1\n"), std::string::npos);
    for (const auto& d : Received()) {
      EXPECT_EQ(d.length, 45u);
      EXPECT_EQ(d.hex, HexOf(BuildStatusGetRequest()));
    }
    EXPECT_GE(Received().size(), c.canceled ? 1u : 2u) << c.name;
  }
}

TEST_F(SnmpPeer, DnssdDeviceWithoutResolverEndsTheThreadQuietly) {
  auto r = Probe({"status", "dnssd://Lumora%20P1._pdl-datastream._tcp.local/", "h", "1000"});
  EXPECT_EQ(r.out, "job_canceled=0 thread_ended=1\n");
  EXPECT_EQ(Count(r.err, "_httpResolveURI fail.\n"), 2) << r.err;  // plain, then DNS-SD look-up
  EXPECT_EQ(r.err.find("ip:"), std::string::npos);
}

TEST_F(SnmpPeer, QueueWithoutDeviceUriEndsTheThreadWithoutAnErrorLine) {
  auto r = Probe({"status", "", "h", "500"});
  EXPECT_EQ(r.out, "job_canceled=0 thread_ended=1\n");
  EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
  EXPECT_TRUE(Received().empty());
}

// net-snmp's agent with the printer's job-record subtree.
class RealSnmpd : public SnmpPeer {
 protected:
  void SetUp() override {
    SnmpPeer::SetUp();
    if (IsSkipped()) return;
    if (system("command -v snmpd >/dev/null 2>&1") != 0) GTEST_SKIP() << "snmpd missing";
    SetRecord(0x07, "buildhost");
    sidechannel::WriteFile(
        dir_.File("snmpd.conf"),
        "agentAddress udp:127.0.0.1:161\n"
        "rwcommunity " LUMORA_SNMP_COMMUNITY " 127.0.0.1\n"
        "pass_persist .1.3.6.1.4.1.1840417.1 /usr/bin/python3 " +
            sidechannel::RigPath("job_record_passpersist.py") + " " + dir_.File("record.hex") +
            " " + dir_.File("pass.log") + "\n");
    setenv("SNMP_PERSISTENT_DIR", dir_.File("persist").c_str(), 1);
    setenv("MIBS", "", 1);
    snmpd_.reset(new sidechannel::Background(
        {"snmpd", "-f", "-C", "-c", dir_.File("snmpd.conf"), "-Lf", dir_.File("snmpd.log")},
        dir_.File("snmpd.out"), dir_.File("snmpd.log")));
    ASSERT_TRUE(snmpd_->ready());
    // Wait until the agent answers the driver's own GetRequest.
    for (int i = 0; i < 50; ++i) {
      if (Probe({"querynet", "127.0.0.1"}, {{"LUMORA_SNMP_TIMEOUT_MS", "100"}}).out.find(
              "result=1") == 0) {
        break;
      }
    }
  }
  // 64-byte job record: state at byte 4, owner from byte 8.
  void SetRecord(int state, const std::string& owner) {
    std::string record(64, '\0');
    record[4] = static_cast<char>(state);
    record.replace(8, owner.size(), owner);
    sidechannel::WriteFile(dir_.File("record.hex"),
                        sidechannel::Hex(reinterpret_cast<const unsigned char*>(record.data()), 64));
  }
  std::unique_ptr<sidechannel::Background> snmpd_;
};

TEST_F(RealSnmpd, AcceptsKeepaliveAndReportsTheJobRecord) {
  auto q = Probe({"querynet", "127.0.0.1"});
  EXPECT_EQ(q.out, "result=1 length=109\n");  // 64-byte record in a GetResponse

  auto k = Probe({"keepalive", "700", "-1", "queue"},
                 {{"DEVICE_URI", "socket://127.0.0.1:9100"}, {"LUMORA_KEEPALIVE_INTERVAL_MS", "200"}});
  std::string pass = sidechannel::ReadFile(dir_.File("pass.log"));
  EXPECT_GE(Count(pass, "set .1.3.6.1.4.1.1840417.1.1.4.13 integer 1\n"), 2) << pass;

  auto going = Probe({"status", "socket://127.0.0.1", "buildhost", "800"},
                     {{"LUMORA_STATUS_POLL_MS", "20"}});
  EXPECT_EQ(going.out, "job_canceled=0 thread_ended=0\n") << going.err;
  SetRecord(0x06, "otherhost");
  auto other = Probe({"status", "socket://127.0.0.1", "buildhost", "800"},
                     {{"LUMORA_STATUS_POLL_MS", "20"}});
  EXPECT_EQ(other.out, "job_canceled=0 thread_ended=0\n") << other.err;
  SetRecord(0x06, "buildhost");
  auto mine = Probe({"status", "socket://127.0.0.1", "buildhost", "3000"},
                    {{"LUMORA_STATUS_POLL_MS", "20"}});
  EXPECT_EQ(mine.out, "job_canceled=1 thread_ended=1\n") << mine.err;
  EXPECT_NE(mine.err.find("nRecv = 109\n"), std::string::npos);
}

}  // namespace

}  // namespace lumora::test
