// SPDX-License-Identifier: GPL-2.0-or-later
// USB paths against printers emulated with umockdev: the serial-number
// search, the status request and its replies, the status thread and the
// keep-alive hold.
#include <gtest/gtest.h>

#include <string>

#include "side_test_support.h"

namespace lumora::test {

using sidechannel::Count;
using sidechannel::ProbeWithUsb;

namespace {

const char kUri[] = "usb://Lumora/P3300?serial=LM0042";

class UsbDevice : public testing::Test {
 protected:
  void SetUp() override {
    if (!sidechannel::UsbEmulationAvailable()) GTEST_SKIP() << "umockdev for Python is missing";
  }
};

TEST_F(UsbDevice, SerialNumberSearch) {
  struct Case {
    const char* name;
    const char* printers;
    const char* out;
    int stringReads;  // serial string requests seen by the printers
  } cases[] = {
      {"serial in the URI", R"([{"devnum": 2, "serial": "LM0042"}])", "device=2\n", 1},
      {"other serial", R"([{"devnum": 2, "serial": "LM0043"}])", "device=none\n", 1},
      {"empty serial matches nothing", R"([{"devnum": 2, "serial": ""}])", "device=none\n", 1},
      {"no serial index: not asked", R"([{"devnum": 2, "serial": null}])", "device=none\n", 0},
      {"empty and absent serials passed over",
       R"([{"devnum": 4, "serial": ""}, {"devnum": 3, "serial": null},
           {"devnum": 2, "serial": "LM0042"}])",
       "device=2\n", 2},
      {"two matches: first in libusb's order (highest address)",
       R"([{"devnum": 2, "serial": "LM0042"}, {"devnum": 5, "serial": "0042"}])", "device=5\n",
       1},
  };
  for (const auto& c : cases) {
    std::string rig;
    auto r = ProbeWithUsb(c.printers, {"findusb", kUri}, &rig);
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(Count(rig, " string 3"), c.stringReads) << c.name << "\n" << rig;
    EXPECT_EQ(Count(r.err, "libusb find device handle\n"), r.out == "device=none\n" ? 0 : 1)
        << c.name;
  }
}

TEST_F(UsbDevice, NoUsbDeviceAtAll) {
  auto r = ProbeWithUsb("[]", {"findusb", kUri}, nullptr);
  EXPECT_EQ(r.out, "device=none\n");
  EXPECT_EQ(r.err, "DEBUG: gstopcl::SenddummyCmdToUsb: get device list failed\n");
}

TEST_F(UsbDevice, StatusRequestReplies) {
  std::string rig;
  auto r = ProbeWithUsb(
      R"([{"devnum": 2, "serial": "LM0042", "replies": ["06", "8601ff", "07", "stall", "empty"]}])",
      {"queryusb", kUri, "5"}, &rig);
  EXPECT_EQ(r.out,
            "result=1 count=1 first=06\n"
            "result=1 count=3 first=86\n"
            "result=1 count=1 first=07\n"
            "result=0 count=0 first=00\n"   // stalled: buffer stays zeroed
            "result=0 count=0 first=00\n");  // no data
  EXPECT_EQ(r.err,
            "DEBUG: libusb find device handle\nDEBUG: \nDEBUG: \nDEBUG: \n"
            "DEBUG: libusb_control_transfer fail (code=-9)\n"
            "DEBUG: libusb_control_transfer fail (code=0)\n");
  // Vendor request 0xC1/0 asking for the whole 1024-byte buffer.
  EXPECT_EQ(Count(rig, " status 1024 -> "), 5) << rig;
}

TEST_F(UsbDevice, StatusThreadSetsCancelOnlyForCancelStates) {
  struct Case {
    const char* replies;
    const char* out;
  } cases[] = {
      {R"(["07", "07", "06"])", "job_canceled=1 thread_ended=1\n"},
      {R"(["07", "86"])", "job_canceled=1 thread_ended=1\n"},
      {R"(["07"])", "job_canceled=0 thread_ended=0\n"},
      {R"(["stall"])", "job_canceled=0 thread_ended=0\n"},
      {R"(["empty"])", "job_canceled=0 thread_ended=0\n"},
  };
  for (const auto& c : cases) {
    std::string printers =
        std::string(R"([{"devnum": 2, "serial": "LM0042", "replies": )") + c.replies + "}]";
    std::string rig;
    auto r = ProbeWithUsb(printers, {"status", kUri, "host", "1000"}, &rig,
                          {{"LUMORA_STATUS_POLL_MS", "50"}});
    EXPECT_EQ(r.out, c.out) << c.replies << "\n" << r.err;
    EXPECT_NE(r.err.find("Status_query::handle yes\n"), std::string::npos) << r.err;
    if (std::string(c.out).find("=1 ") != std::string::npos) {
      // The thread stops asking once it has seen the cancel.
      EXPECT_EQ(Count(rig, " status "), std::string(c.replies) == R"(["07", "86"])" ? 2 : 3)
          << rig;
    } else {
      EXPECT_GE(Count(rig, " status "), 3) << rig;
    }
  }
  std::string rig;
  auto none = ProbeWithUsb(R"([{"devnum": 2, "serial": ""}])", {"status", kUri, "host", "1000"},
                           &rig);
  EXPECT_EQ(none.out, "job_canceled=0 thread_ended=1\n");
  EXPECT_NE(none.err.find("querythread::handle is null\n"), std::string::npos) << none.err;
}

TEST_F(UsbDevice, KeepaliveHoldsThePrinterUntilTheJobEnds) {
  const char* printer = R"([{"devnum": 2, "serial": "LM0042"}])";
  std::string rig;
  // Held for the whole copy, ended by Waitpthread; nothing is sent to it.
  auto held = ProbeWithUsb(printer, {"keepalive", "1600", "-1", "queue"}, &rig,
                           {{"DEVICE_URI", kUri}});
  EXPECT_EQ(held.out, "thread=started\nended_before_wait=0\njoined g_bdummyEnd=1\n");
  EXPECT_EQ(held.err, "DEBUG: libusb find device handle\nDEBUG: End::g_bDammyEnd = 1\n");
  EXPECT_EQ(Count(rig, " status "), 0) << rig;

  // SIGTERM: the thread sees the cancel within one 700 ms hold and ends by itself.
  auto canceled = ProbeWithUsb(printer, {"keepalive", "2500", "200", "queue"}, &rig,
                               {{"DEVICE_URI", kUri}});
  EXPECT_NE(canceled.out.find("ended_before_wait=1\n"), std::string::npos) << canceled.out;
  EXPECT_NE(canceled.out.find("joined g_bdummyEnd=1\n"), std::string::npos);

  // No such printer: the thread ends at once.
  auto absent = ProbeWithUsb(R"([{"devnum": 2, "serial": "OTHER"}])",
                             {"keepalive", "600", "-1", "queue"}, &rig, {{"DEVICE_URI", kUri}});
  EXPECT_NE(absent.out.find("ended_before_wait=1\n"), std::string::npos) << absent.out;
  EXPECT_EQ(absent.err, "DEBUG: dummy_send::handle is null\nDEBUG: End::g_bDammyEnd = 1\n");
}

}  // namespace

}  // namespace lumora::test
