// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz entries of the pre-filter: the PostScript road's line rewriting and
// cancel cut, URL decoding and the size checks' number scanning.
#include <cups/cups.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "media_size.h"
#include "ps_filter.h"
#include "ps_job_state.h"
#include "ps_rewrite.h"
#include "url_decode.h"

namespace lumora::test::fuzz {

namespace {

class QuietLog : public lumora::LogOutput {
 public:
  void Line(const char*) override {}
};

// Output of the road: a file, read back for the checks.
struct RoadOutput {
  std::string path = ScratchDir() + "/road.out";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ~RoadOutput() { close(fd); }
  std::string Read() const {
    std::string out;
    char buf[65536];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
};

const std::string& PrefilterPpd() {
  static const std::string kPath = [] {
    std::string text =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"LUMFUZZ.PPD\"\n"
        "*Manufacturer: \"Lumora\"\n*Product: \"(Lumora)\"\n*ModelName: \"Lumora MP2310 Series PS\"\n"
        "*ShortNickName: \"Lumora MP2310 Series PS\"\n*NickName: \"Lumora MP2310 Series PS\"\n"
        "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n"
        "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
        "*PageSize A5/A5: \"<</PageSize[420 595]>>setpagedevice\"\n*CloseUI: *PageSize\n"
        "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595.3 842.9\"\n"
        "*PaperDimension A5/A5: \"420 595\"\n"
        "*OpenUI *FeedEdge: PickOne\n*DefaultFeedEdge: LongEdge\n"
        "*FeedEdge ShortEdge/Short: \"\"\n*FeedEdge LongEdge/Long: \"\"\n*CloseUI: *FeedEdge\n";
    return WriteScratchFile("prefilter.ppd", text.data(), text.size());
  }();
  return kPath;
}

// The scheduler's environment for the pre-filter's look-ups: no scheduler
// to ask for destinations, the fuzz PPD, the scratch TMPDIR.
void PrefilterEnvironment() {
  setenv("CUPS_SERVER", "/nonexistent-lumora-fuzz/cups.sock", 1);
  setenv("PPD", PrefilterPpd().c_str(), 1);
  setenv("TMPDIR", ScratchTmp().c_str(), 1);
}

const lumora::PsPrinterDescription& FuzzPrinter() {
  static const lumora::PsPrinterDescription kPrinter = [] {
    ppd_file_t* ppd = ppdOpenFile(PrefilterPpd().c_str());
    lumora::PsPrinterDescription p = DescribePsPrinter(ppd);
    ppdClose(ppd);
    return p;
  }();
  return kPrinter;
}

// The side-channel threads of a fuzzed job reach no printer.
lumora::PsJobHooks NoDeviceHooks() {
  lumora::PsJobHooks hooks;
  hooks.deviceLine = [](DeviceLineUse, const std::string&) { return std::unique_ptr<DeviceLine>(); };
  return hooks;
}

// The options of a fuzzed size check, as a job's state holds them.
std::unique_ptr<lumora::PsJobState> SizeJob(lumora::ByteOutput& device, lumora::LogOutput& log,
                                            const std::string& options) {
  return std::unique_ptr<lumora::PsJobState>(new lumora::PsJobState(
      FuzzPrinter(), {"lumora-q", "42", "fuzz", "t", "1", options}, device, log, NoDeviceHooks()));
}

}  // namespace

int FuzzPsRewrite(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  PrefilterEnvironment();
  const std::string job = WriteScratchFile("job.ps", data + 3, size - 3);

  RoadOutput out;
  lumora::FdOutput device(out.fd);
  QuietLog log;
  std::unique_ptr<lumora::PsJobState> state(new lumora::PsJobState(
      FuzzPrinter(), {"lumora-q", "42", "fuzz", "A fuzzed job", "1", ""}, device, log,
      NoDeviceHooks()));
  lumora::PsJobState& road = *state;
  road.ismaple = (mode & 0x03) != 0;
  road.iscollate = (mode & 0x03) == 2;
  road.copies = road.iscollate ? 1 + (mode >> 4) % 3 : 0;
  road.isA5Page = (mode & 0x04) != 0;
  road.width = data[1] * 4;
  road.height = data[2] * 4;
  if (mode & 0x08) road.side.Cancel();

  if ((mode & 0x03) == 3)
    WritePrintFileToStdout(road, job);
  else
    WritePSdataToStdout(road, job);

  // A cut job ends with the cancel trailer: nothing of the job follows it
  // (the collated road closes its PJL job after it).
  if (road.Cancelled()) {
    const std::string result = out.Read();
    const std::string trailer(kCancelTrailer, kCancelTrailerLen);
    const std::string input(reinterpret_cast<const char*>(data + 3), size - 3);
    const size_t at = result.find(trailer);
    if (at != std::string::npos && input.find("%%Trailer") == std::string::npos) {
      // Then the PJL job is closed as the job file closes it.
      std::string end = trailer;
      if (road.iscollate) end += std::string(kEndOfJob, kEndOfJobLen);
      const size_t close = input.rfind("\x1b%-12345X@PJL");
      const size_t tail = input.size() > 4096 ? input.size() - 4096 : 0;  // where it is looked for
      if (close != std::string::npos && close >= tail) end += input.substr(close);
      if (result.compare(at, std::string::npos, end) != 0)
        Fail("ps_rewrite", "job data after the cancel trailer");
    }
  }

  // The line rewriting and the cut on the whole input as one line.
  std::string line(reinterpret_cast<const char*>(data + 3), size - 3);
  bool inNumCopies = (mode & 0x10) != 0;
  FixPrnPageSize(line, road.width, road.height, road.iscollate, inNumCopies);
  int outlen = 0;
  find_pageend(road, line, outlen);
  if (outlen != 0 && outlen != kCancelTrailerLen) Fail("ps_rewrite", "cut with a bad length");

  state.reset();  // the job's temporary files go with it
  unlink(job.c_str());
  CheckNoTempFileLeft("ps_rewrite");
  return 0;
}

int FuzzUrlDecode(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  const size_t before = strlen(buf.data());
  urldecode(buf.data());
  if (strlen(buf.data()) > before) Fail("urldecode", "the decoded text grew");

  // The queue look-up: lines "queue", then printer-uri-supported values.
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size() && lines.size() < 8) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  if (lines.size() < 2) return 0;
  std::vector<cups_dest_t> dests(lines.size() - 1);
  for (size_t i = 1; i < lines.size(); ++i) {
    cups_dest_t& d = dests[i - 1];
    memset(&d, 0, sizeof(d));
    d.name = const_cast<char*>("q");
    d.num_options = cupsAddOption("printer-uri-supported", lines[i].c_str(), 0, &d.options);
    d.num_options = cupsAddOption("device-uri", lines[i].c_str(), d.num_options, &d.options);
    d.num_options =
        cupsAddOption("printer-make-and-model", lines[i].c_str(), d.num_options, &d.options);
  }
  char deviceUri[256], makeModel[256];
  memset(deviceUri, 0x55, sizeof(deviceUri));
  memset(makeModel, 0x55, sizeof(makeModel));
  FindQueueOptions(static_cast<int>(dests.size()), dests.data(), lines[0].c_str(), deviceUri,
                   makeModel);
  for (auto& d : dests) cupsFreeOptions(d.num_options, d.options);
  return 0;
}

int FuzzSizeChecks(const uint8_t* data, size_t size) {
  PrefilterEnvironment();
  const char* text = reinterpret_cast<const char*>(data);
  const char* nl = static_cast<const char*>(memchr(text, '\n', size));
  const size_t optLen = nl ? static_cast<size_t>(nl - text) : size;
  std::string options(text, strnlen(text, optLen));
  const char* body = nl ? nl + 1 : text + size;
  const std::string job = WriteScratchFile("size.ps", body, static_cast<size_t>(text + size - body));

  QuietLog log;
  RoadOutput out;
  lumora::FdOutput device(out.fd);
  std::unique_ptr<lumora::PsJobState> state = SizeJob(device, log, options);
  int w = 0, h = 0;
  checkmediasize(*state, 0, &w, &h);
  isA5PageSize(*state, options.c_str(), job.c_str());
  // The custom-size check runs grep on the job: only for custom sizes.
  isSupportCustomPageSize(*state, options.c_str(), job.c_str());
  unlink(job.c_str());
  return 0;
}

}  // namespace lumora::test::fuzz
