// SPDX-License-Identifier: GPL-2.0-or-later
// The server's definitions of some of PAPPL 1.3.1's own functions. libpappl
// calls them through its procedure linkage table, so the program's
// definitions (exported, see CMakeLists.txt) run in their place; each
// calls PAPPL's own (found with dlsym(RTLD_NEXT)) and adds what PAPPL
// lacks. Built only against PAPPL 1.3.x: the functions are not PAPPL's
// interface and may change in another series.
//
// PAPPL calls some of them with its locks held: nothing here takes a lock
// of PAPPL's there, and the application's own locks are held only around
// its own tables.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "app_requests.h"
#include "app_system.h"
#include "duplex_wait.h"
#include "job_queue.h"
#include "pappl_hooks.h"

namespace {

using CopyPrinterState = void (*)(pappl_printer_t*, ipp_tag_t, ipp_t*, pappl_client_t*,
                                  cups_array_t*);
using CopyJobState = void (*)(pappl_job_t*, ipp_tag_t, ipp_t*, cups_array_t*);
using CopyJobAttributes = void (*)(pappl_job_t*, pappl_client_t*, cups_array_t*);
using PrinterCall = void (*)(pappl_printer_t*);
using ClientCall = void (*)(pappl_client_t*);

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// PAPPL's own definitions.
struct Pappl {
  CopyPrinterState copyPrinterState = Next<CopyPrinterState>("_papplPrinterCopyStateNoLock");
  CopyJobState copyJobState = Next<CopyJobState>("_papplJobCopyStateNoLock");
  CopyJobAttributes copyJobAttributes = Next<CopyJobAttributes>("_papplJobCopyAttributesNoLock");
  PrinterCall checkJobs = Next<PrinterCall>("_papplPrinterCheckJobs");
  ClientCall printerIpp = Next<ClientCall>("_papplPrinterProcessIPP");
  ClientCall jobIpp = Next<ClientCall>("_papplJobProcessIPP");
  ClientCall systemIpp = Next<ClientCall>("_papplSystemProcessIPP");
};

const Pappl& Own() {
  static const Pappl own;
  return own;
}

// When the server started: jobs created before (or in the same second,
// by the server before it) come from the state file.
const time_t kStarted = time(nullptr);

// The thread is ordering a queue (PAPPL's release of a job looks for a job
// to start again).
thread_local bool tOrdering = false;

// A document PAPPL receives on this thread (Print-Job, Send-Document): its
// printer is marked receiving meanwhile (a job waiting for its document is
// not ended while it comes in).
class DocumentScope {
 public:
  explicit DocumentScope(pappl_client_t* client)
      : ctx_(lumora::app::SystemContext(papplClientGetSystem(client))),
        printer_(papplPrinterGetID(papplClientGetPrinter(client))) {
    if (ctx_) ctx_->documents.Begin(printer_);
  }
  ~DocumentScope() {
    if (ctx_) ctx_->documents.End(printer_);
  }
  DocumentScope(const DocumentScope&) = delete;
  DocumentScope& operator=(const DocumentScope&) = delete;

 private:
  lumora::app::AppContext* ctx_;
  int printer_;
};

bool CarriesDocument(pappl_client_t* client) {
  ipp_op_t op = papplClientGetOperation(client);
  return (op == IPP_OP_PRINT_JOB || op == IPP_OP_SEND_DOCUMENT) && papplClientGetPrinter(client);
}

// A request handed to PAPPL's printer or job: the control socket's checks,
// then PAPPL, inside a document scope when a document follows.
void HandOn(ClientCall pappl, pappl_client_t* client) {
  if (!pappl) return;
  try {
    if (lumora::app::AnswerLocalRequest(client)) return;
  } catch (...) {
  }
  if (!CarriesDocument(client)) {
    pappl(client);
    return;
  }
  std::unique_ptr<DocumentScope> scope;
  try {
    scope = std::make_unique<DocumentScope>(client);
  } catch (...) {
  }
  pappl(client);
}

}  // namespace

namespace lumora::app {

std::string MissingPapplFunctions() {
  const Pappl& own = Own();
  const std::pair<const void*, const char*> kAll[] = {
      {reinterpret_cast<const void*>(own.copyPrinterState), "_papplPrinterCopyStateNoLock"},
      {reinterpret_cast<const void*>(own.copyJobState), "_papplJobCopyStateNoLock"},
      {reinterpret_cast<const void*>(own.copyJobAttributes), "_papplJobCopyAttributesNoLock"},
      {reinterpret_cast<const void*>(own.checkJobs), "_papplPrinterCheckJobs"},
      {reinterpret_cast<const void*>(own.printerIpp), "_papplPrinterProcessIPP"},
      {reinterpret_cast<const void*>(own.jobIpp), "_papplJobProcessIPP"},
      {reinterpret_cast<const void*>(own.systemIpp), "_papplSystemProcessIPP"}};
  std::string missing;
  for (const auto& [fn, name] : kAll) {
    if (!fn) missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

}  // namespace lumora::app

// printer-state-message: PAPPL 1.3.1 states it from the printer's state
// alone ("Idle."); a printer waiting for its manual-duplex stack states the
// prompt. (PAPPL's attributes are made apart and then added: a Get-Printers
// answer holds other printers' attributes of the same names.)
extern "C" void _papplPrinterCopyStateNoLock(pappl_printer_t* printer, ipp_tag_t group_tag,
                                             ipp_t* ipp, pappl_client_t* client,
                                             cups_array_t* ra) {
  CopyPrinterState pappl = Own().copyPrinterState;
  if (!pappl) return;
  std::string text;
  try {
    text = lumora::app::WaitingStateMessage(printer);
  } catch (...) {
  }
  if (text.empty()) {
    pappl(printer, group_tag, ipp, client, ra);
    return;
  }
  ipp_t* own = ippNew();
  pappl(printer, group_tag, own, client, ra);
  if (ipp_attribute_t* message = ippFindAttribute(own, "printer-state-message", IPP_TAG_TEXT)) {
    // (PAPPL's value is a constant string: ippSetString would keep a
    // pointer to ours.)
    ippDeleteAttribute(own, message);
    ippAddString(own, group_tag, IPP_TAG_TEXT, "printer-state-message", nullptr, text.c_str());
  }
  lumora::app::AppendAttributes(ipp, own);
  ippDelete(own);
}

// job-state, -reasons and -message: the application's message in place of
// PAPPL's (which PAPPL reads here without the job's lock), and a job held
// back in the queue shown pending.
extern "C" void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group_tag, ipp_t* ipp,
                                         cups_array_t* ra) {
  CopyJobState pappl = Own().copyJobState;
  if (!pappl) return;
  lumora::app::JobShown shown;
  try {
    shown = lumora::app::ShownState(job);
  } catch (...) {
  }
  if (!shown.queued && shown.message.empty()) {
    pappl(job, group_tag, ipp, ra);
    return;
  }
  ipp_t* own = ippNew();
  pappl(job, group_tag, own, ra);
  lumora::app::Restate(own, group_tag, shown);
  lumora::app::AppendAttributes(ipp, own);
  ippDelete(own);
}

// A job reloaded from the state file: its time-at-* attributes.
extern "C" void _papplJobCopyAttributesNoLock(pappl_job_t* job, pappl_client_t* client,
                                              cups_array_t* ra) {
  CopyJobAttributes pappl = Own().copyJobAttributes;
  if (!pappl) return;
  pappl(job, client, ra);
  if (papplJobGetTimeCreated(job) <= kStarted) {
    ipp_t* response = papplClientGetResponse(client);
    lumora::app::ClampJobTimes(response);
    lumora::app::DropRepeatedJobAttributes(response);
  }
}

// PAPPL looks for a job to start: the queue is ordered first.
extern "C" void _papplPrinterCheckJobs(pappl_printer_t* printer) {
  PrinterCall pappl = Own().checkJobs;
  if (!pappl) return;
  if (!tOrdering) {
    tOrdering = true;
    bool released = false;
    try {
      released = lumora::app::OrderQueue(printer);
    } catch (...) {
    }
    tOrdering = false;
    if (released) return;
  }
  pappl(printer);
}

extern "C" void _papplPrinterProcessIPP(pappl_client_t* client) {
  HandOn(Own().printerIpp, client);
}

extern "C" void _papplJobProcessIPP(pappl_client_t* client) { HandOn(Own().jobIpp, client); }

extern "C" void _papplSystemProcessIPP(pappl_client_t* client) {
  ClientCall pappl = Own().systemIpp;
  if (!pappl) return;
  try {
    if (lumora::app::AnswerLocalRequest(client)) return;
  } catch (...) {
  }
  pappl(client);
}
