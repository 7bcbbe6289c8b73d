// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS filter around a PostScript job: arguments, the queue's PPD, the
// side channel to the backend, the scheduler's destinations, SIGTERM.
#include "ps_filter.h"

#include <cups/sidechannel.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ps_rewrite.h"
#include "side_log.h"
#include "wake_event.h"

namespace lumora {

PsSigterm gPsSigterm = {0, -1};

namespace {

const char kUsage[] = "ERROR: Usage: pstoLumora job-id user title copies options [file]\n";

// The queue's PPD (environment variable PPD); a printer described by
// nothing when it is unset or unreadable, which the support check refuses.
PsPrinterDescription ReadPrinter() {
  const char* path = getenv("PPD");
  ppd_file_t* ppd = path ? ppdOpenFile(path) : nullptr;
  if (ppd == nullptr) return PsPrinterDescription();
  PsPrinterDescription printer = DescribePsPrinter(ppd);
  ppdClose(ppd);
  return printer;
}

PsJobHooks FilterHooks(const char* queue, const PsFilterIo& io, int wakeFd) {
  PsJobHooks hooks;
  hooks.cancelled = [] { return gPsSigterm.raised != 0; };
  hooks.cancelWakeFd = wakeFd;
  const double timeout = io.deviceIdTimeout;
  hooks.deviceId = [timeout](char* buf, int* len) {
    return QueryDeviceIdOverSideChannel(buf, len, timeout);
  };
  if (const char* uri = getenv("DEVICE_URI")) hooks.deviceUri = std::string(uri);
  const std::string name = queue;
  hooks.statusDeviceUri = [name] {
    char deviceUri[256] = "";
    char makeModel[256] = "";
    getPrinter_optiopns(name.c_str(), deviceUri, makeModel);
    return std::string(deviceUri);
  };
  hooks.timings = SideTimings::FromEnvironment();
  return hooks;
}

// The job's wake descriptor for the signal handler, while the job runs.
struct SigtermWake {
  explicit SigtermWake(int fd) { gPsSigterm.wakeFd = fd; }
  ~SigtermWake() { gPsSigterm.wakeFd = -1; }
};

}  // namespace

DeviceIdAnswer QueryDeviceIdOverSideChannel(char* buf, int* len, double timeout) {
  const cups_sc_status_t status =
      cupsSideChannelDoRequest(CUPS_SC_CMD_GET_DEVICE_ID, buf, len, timeout);
  if (status == CUPS_SC_STATUS_OK) return DeviceIdAnswer::kId;
  if (status == CUPS_SC_STATUS_TIMEOUT) return DeviceIdAnswer::kNoAnswer;
  return DeviceIdAnswer::kNoId;
}

PsPrinterDescription DescribePsPrinter(ppd_file_t* ppd) {
  PsPrinterDescription p;
  ppd_attr_t* nick = ppdFindAttr(ppd, "ShortNickName", nullptr);
  if (nick != nullptr && nick->value != nullptr) p.shortNickName = std::string(nick->value);
  for (int i = 0; i < ppd->num_sizes; ++i)
    p.pageSizes.push_back({ppd->sizes[i].name, ppd->sizes[i].width, ppd->sizes[i].length});
  p.variableSizes = ppd->variable_sizes != 0;
  for (ppd_option_t* o = ppdFirstOption(ppd); o != nullptr; o = ppdNextOption(ppd))
    if (o->defchoice[0] != '\0') p.defaults[o->keyword] = o->defchoice;
  p.jclBegin = ppd->jcl_begin ? ppd->jcl_begin : "";
  p.jclToPs = ppd->jcl_ps ? ppd->jcl_ps : "";
  p.jclEnd = ppd->jcl_end ? ppd->jcl_end : "";
  return p;
}

void cancel_job(int) {
  gPsSigterm.raised = 1;
  RaiseWakeFd(gPsSigterm.wakeFd);
  static const char kMsg[] = "DEBUG: cancel_job =1\n";
  ssize_t ignored = write(2, kMsg, sizeof(kMsg) - 1);
  (void)ignored;
}

void InstallPrefilterSignals() {
  setbuf(stderr, nullptr);
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  sigemptyset(&action.sa_mask);
  action.sa_handler = cancel_job;
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

int PsToLumoraJob(int argc, char* argv[], const PsFilterIo& io) {
  if (argc < 6 || argc > 7) {
    io.log->Line(kUsage);
    return 1;
  }
  const PsPrinterDescription printer = ReadPrinter();
  const PsJobTicket ticket{argv[0], argv[1], argv[2], argv[3], argv[4], argv[5]};
  PsJobInput input;
  if (argc == 7)
    input.path = argv[6];
  else
    input.fd = io.inFd;
  const WakeEvent wake;
  PsJobHooks hooks = FilterHooks(argv[0], io, wake.fd());
  if (io.adjustHooks) io.adjustHooks(hooks);
  SigtermWake sigtermWake(wake.fd());
  PsJob job(printer, ticket, input, *io.device, *io.log, std::move(hooks));
  return job.Run();
}

}  // namespace lumora
