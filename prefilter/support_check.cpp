// SPDX-License-Identifier: GPL-2.0-or-later
#include "support_check.h"

#include <strings.h>

#include <cstring>

#include "ps_job_state.h"
#include "side_log.h"

namespace lumora {

// Rows come from the generated model list: LUMORA_PS_MODEL(designation, family).
#define LUMORA_DEVICE_ID_ROW(d) {"MFG:Lumora;", "MDL:" d " series;", "CLS:PRINTER;"},

const char SupportDeviceID[][3][kModelFieldSize] = {
#define LUMORA_PS_MODEL(d, family) LUMORA_DEVICE_ID_ROW(d)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL
};
const size_t kSupportDeviceIDRows = sizeof(SupportDeviceID) / sizeof(SupportDeviceID[0]);

const char support_printerinfo[][kModelFieldSize] = {
#define LUMORA_PS_MODEL(d, family) {"Lumora " d " Series PS"},
#include "ps_models.inc"
#undef LUMORA_PS_MODEL
};
const size_t kSupportPrinterInfoRows = sizeof(support_printerinfo) / sizeof(support_printerinfo[0]);

// Family filters for the X-macro rows: each expands to its row or to nothing.
#define LUMORA_MAPLE_maple(...) __VA_ARGS__
#define LUMORA_MAPLE_larch(...)
#define LUMORA_MAPLE_plain(...)
#define LUMORA_LARCH_maple(...)
#define LUMORA_LARCH_larch(...) __VA_ARGS__
#define LUMORA_LARCH_plain(...)

const char maple_printerinfo[][kModelFieldSize] = {
#define LUMORA_PS_MODEL(d, family) LUMORA_MAPLE_##family({d},)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL
};
const size_t kMaplePrinterInfoRows = sizeof(maple_printerinfo) / sizeof(maple_printerinfo[0]);

const char Larch_1284info[][3][kModelFieldSize] = {
#define LUMORA_PS_MODEL(d, family) LUMORA_LARCH_##family(LUMORA_DEVICE_ID_ROW(d))
#include "ps_models.inc"
#undef LUMORA_PS_MODEL
};
const size_t kLarch1284InfoRows = sizeof(Larch_1284info) / sizeof(Larch_1284info[0]);

const char* const Larch_printerinfo[] = {
#define LUMORA_PS_MODEL(d, family) LUMORA_LARCH_##family("Lumora " d " Series PS",)
#include "ps_models.inc"
#undef LUMORA_PS_MODEL
    nullptr};

namespace {

// The printer's ShortNickName, logged; nullptr when there is none.
const char* ShortNickName(const PsPrinterDescription& printer, LogOutput& log) {
  if (!printer.shortNickName) return nullptr;
  Debugf(log, "attr->value :%s.\n", printer.shortNickName->c_str());
  return printer.shortNickName->c_str();
}

bool HasAllItems(const char* deviceId, const char (&row)[3][kModelFieldSize]) {
  return strstr(deviceId, row[0]) && strstr(deviceId, row[1]) && strstr(deviceId, row[2]);
}

void MarkMaple(const char* text, bool* maple) {
  for (size_t i = 0; i < kMaplePrinterInfoRows; ++i) {
    if (strcasestr(text, maple_printerinfo[i])) {
      *maple = true;
      return;
    }
  }
}

}  // namespace

bool query1284info(PsJobState& job, char* buf, int* len) {
  if (job.Cancelled()) {
    // Nothing new starts after a cancel.
    if (buf) buf[0] = '\0';
    Debugf(job.log, "The job was cancelled: the device id is not asked.\n");
    return false;
  }
  // A device that let one query of the job wait out the whole time-out
  // does not answer: asking again would only wait as long.
  if (buf && len && *len > 0 && !job.deviceIdUnanswered && job.hooks.deviceId) {
    const int capacity = *len;
    const DeviceIdAnswer answer = job.hooks.deviceId(buf, len);
    if (answer == DeviceIdAnswer::kId && *len > 0 && *len <= capacity) {
      buf[*len] = '\0';
      return true;
    }
    if (answer == DeviceIdAnswer::kNoAnswer) job.deviceIdUnanswered = true;
  }
  if (buf) buf[0] = '\0';
  Debugf(job.log, "cups api can't find 1284 information.\n");
  return false;
}

bool isSupportPrinter(const PsPrinterDescription& printer, LogOutput& log,
                      const char* deviceId, bool deviceIdValid, bool* maple) {
  if (!deviceId) deviceId = "";
  if (!deviceIdValid) {
    if (const char* nick = ShortNickName(printer, log)) {
      for (size_t i = 0; i < kSupportPrinterInfoRows; ++i) {
        if (strcasecmp(nick, support_printerinfo[i]) == 0) {
          MarkMaple(nick, maple);
          return true;
        }
      }
    }
  }
  for (size_t i = 0; i < kSupportDeviceIDRows; ++i) {
    if (HasAllItems(deviceId, SupportDeviceID[i])) {
      MarkMaple(deviceId, maple);
      return true;
    }
  }
  return false;
}

bool isLarchPrinter(const PsPrinterDescription& printer, LogOutput& log,
                    const char* deviceId, bool deviceIdValid) {
  if (deviceIdValid && deviceId) {
    for (size_t i = 0; i < kLarch1284InfoRows; ++i)
      if (HasAllItems(deviceId, Larch_1284info[i])) return true;
    return false;
  }
  if (const char* nick = ShortNickName(printer, log)) {
    for (size_t i = 0; Larch_printerinfo[i]; ++i)
      if (strcasecmp(nick, Larch_printerinfo[i]) == 0) return true;
  }
  return false;
}

}  // namespace lumora
