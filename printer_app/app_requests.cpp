// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_requests.h"

#include <strings.h>

#include <sys/socket.h>

#include <cstring>
#include <optional>

#include "job_queue.h"

namespace lumora::app {

namespace {

struct Refusal {
  ipp_status_t status;
  std::string message;
  ipp_attribute_t* unsupported;  // the request's attribute named in the answer
};

bool IsRasterFormat(const char* format) {
  return format && (strcasecmp(format, "image/pwg-raster") == 0 ||
                    strcasecmp(format, "image/urf") == 0);
}

// A job of the printer waits to print (in PAPPL's queue or the
// application's) or prints.
bool HasJobToPrint(pappl_printer_t* printer) {
  bool busy = false;
  papplPrinterIterateActiveJobs(
      printer,
      [](pappl_job_t* job, void* data) {
        ipp_jstate_t state = papplJobGetState(job);
        if (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING || ShownState(job).queued) {
          *static_cast<bool*>(data) = true;
        }
      },
      &busy, 1, 0);
  return busy;
}

// Answers the request with an IPP error, the document that follows it read
// and dropped as PAPPL does. PAPPL answers a refused request once more
// itself: the connection is shut first so that nothing reaches the client.
http_status_t Refuse(pappl_client_t* client, const Refusal& refusal) {
  papplClientRespondIPP(client, refusal.status, "%s", refusal.message.c_str());
  if (refusal.unsupported) papplClientRespondIPPUnsupported(client, refusal.unsupported);
  http_t* http = papplClientGetHTTP(client);
  char buffer[16384];
  while (httpRead2(http, buffer, sizeof(buffer)) > 0) {
  }
  ipp_t* response = papplClientGetResponse(client);
  httpSetKeepAlive(http, HTTP_KEEPALIVE_OFF);
  papplClientRespond(client, HTTP_STATUS_OK, nullptr, "application/ipp", 0, ippLength(response));
  httpShutdown(http);
  return HTTP_STATUS_BAD_REQUEST;
}

const char* DocumentFormat(ipp_t* request) {
  ipp_attribute_t* attr = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
  return attr ? ippGetString(attr, 0, nullptr) : nullptr;
}

std::optional<Refusal> RasterRefusal(pappl_client_t* client, ipp_t* request) {
  pappl_printer_t* printer = papplClientGetPrinter(client);
  if (!printer || !IsRasterFormat(DocumentFormat(request))) return std::nullopt;
  if (papplPrinterIsHoldingNewJobs(printer)) {
    return Refusal{IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS, "Currently holding new jobs.", nullptr};
  }
  if (!HasJobToPrint(printer)) return std::nullopt;
  // The job of a Send-Document ends as PAPPL ends it: the client sends the
  // whole job again.
  pappl_job_t* job = papplClientGetJob(client);
  if (job && papplJobGetState(job) == IPP_JSTATE_HELD && !papplJobGetFilename(job)) {
    SetJobMessage(job, "Currently printing another job.");
    papplJobCancel(job);
  }
  return Refusal{IPP_STATUS_ERROR_BUSY, "Currently printing another job.", nullptr};
}

std::optional<Refusal> MediaRefusal(ipp_t* request) {
  for (const char* name : {"media-col", "media-col-default", "media-col-ready"}) {
    ipp_attribute_t* attr = ippFindAttribute(request, name, IPP_TAG_ZERO);
    if (!attr) continue;
    if (ippGetValueTag(attr) != IPP_TAG_BEGIN_COLLECTION) continue;  // PAPPL refuses those
    for (int i = 0; i < ippGetCount(attr); i++) {
      std::string why = MediaColProblem(ippGetCollection(attr, i));
      if (!why.empty()) {
        return Refusal{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, std::string(name) + ": " + why, attr};
      }
    }
  }
  return std::nullopt;
}

// Validate-Job carries no document: a compression PAPPL takes is simply
// taken (PAPPL itself refuses the others).
void DropCompression(ipp_t* request) {
  ipp_attribute_t* attr = ippFindAttribute(request, "compression", IPP_TAG_ZERO);
  if (!attr || ippGetCount(attr) != 1 || ippGetValueTag(attr) != IPP_TAG_KEYWORD) return;
  const char* value = ippGetString(attr, 0, nullptr);
  for (const char* known : {"none", "gzip", "deflate"}) {
    if (value && strcmp(value, known) == 0) {
      ippDeleteAttribute(request, attr);
      return;
    }
  }
}

// Why the request is answered before PAPPL sees it, if it is.
std::optional<Refusal> Review(pappl_client_t* client) {
  ipp_t* request = papplClientGetRequest(client);
  if (!request) return std::nullopt;
  std::optional<Refusal> refusal = MediaRefusal(request);
  if (refusal) return refusal;
  switch (ippGetOperation(request)) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_SEND_DOCUMENT:
      return RasterRefusal(client, request);
    case IPP_OP_VALIDATE_JOB:
      DropCompression(request);
      break;
    default:
      break;
  }
  return std::nullopt;
}

void LogRefusal(pappl_client_t* client, const Refusal& refusal) {
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "%s refused: %s",
                 ippOpString(papplClientGetOperation(client)), refusal.message.c_str());
}

}  // namespace

std::string MediaColProblem(ipp_t* col) {
  ipp_attribute_t* name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO);
  if (name) {
    const char* text = ippGetString(name, 0, nullptr);
    if (!text || !pwgMediaForPWG(text)) {
      return std::string("unknown media-size-name \"") + (text ? text : "") + "\"";
    }
    return "";
  }
  ipp_attribute_t* x = ippFindAttribute(col, "media-size/x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t* y = ippFindAttribute(col, "media-size/y-dimension", IPP_TAG_INTEGER);
  if (x && y && !pwgMediaForSize(ippGetInteger(x, 0), ippGetInteger(y, 0))) {
    return "media-size " + std::to_string(ippGetInteger(x, 0)) + "x" +
           std::to_string(ippGetInteger(y, 0)) + " is no paper size";
  }
  return "";
}

http_status_t CheckRequest(pappl_client_t* client) {
  std::optional<Refusal> refusal = Review(client);
  if (!refusal) return HTTP_STATUS_CONTINUE;
  LogRefusal(client, *refusal);
  return Refuse(client, *refusal);
}

bool AnswerLocalRequest(pappl_client_t* client) {
  if (httpAddrFamily(httpGetAddress(papplClientGetHTTP(client))) != AF_LOCAL) return false;
  std::optional<Refusal> refusal = Review(client);
  if (!refusal) return false;
  LogRefusal(client, *refusal);
  papplClientRespondIPP(client, refusal->status, "%s", refusal->message.c_str());
  if (refusal->unsupported) papplClientRespondIPPUnsupported(client, refusal->unsupported);
  return true;
}

}  // namespace lumora::app
