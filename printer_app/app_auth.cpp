// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_auth.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app_requests.h"
#include "job_queue.h"
#include "raster_adapter.h"

// PAPPL 1.3.1's own page of a printer (exported by libpappl, not declared in
// its headers): the guard below serves it once the request may see it.
extern "C" void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer);

namespace lumora::app {

namespace {

struct Credentials {
  const std::string* user;
  const std::string* password;
};

// PAM conversation: answers the password prompt (and the user name prompt).
int Conversation(int count, const struct pam_message** messages, struct pam_response** replies,
                 void* data) {
  const Credentials& c = *static_cast<const Credentials*>(data);
  auto* answers = static_cast<pam_response*>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; i++) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) answers[i].resp = strdup(c.password->c_str());
    else if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) answers[i].resp = strdup(c.user->c_str());
  }
  *replies = answers;
  return PAM_SUCCESS;
}

bool PamAccepts(const std::string& service, const std::string& user,
                const std::string& password) {
  Credentials c{&user, &password};
  struct pam_conv conv = {Conversation, &c};
  pam_handle_t* pamh = nullptr;
  int rc = pam_start(service.c_str(), user.c_str(), &conv, &pamh);
  if (rc == PAM_SUCCESS) rc = pam_authenticate(pamh, PAM_SILENT);
  if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(pamh, PAM_SILENT);
  if (pamh) pam_end(pamh, rc);
  return rc == PAM_SUCCESS;
}

// Root, or a member of the group (primary or supplementary). Client
// threads run at once: only the reentrant lookups.
bool IsAdministrator(const std::string& user, const std::string& group) {
  std::vector<char> buffer(16384);
  struct passwd pw;
  struct passwd* p = nullptr;
  if (getpwnam_r(user.c_str(), &pw, buffer.data(), buffer.size(), &p) != 0 || !p) return false;
  if (p->pw_uid == 0) return true;
  std::vector<char> groupBuffer(16384);
  struct group gr;
  struct group* g = nullptr;
  if (getgrnam_r(group.c_str(), &gr, groupBuffer.data(), groupBuffer.size(), &g) != 0 || !g) {
    return false;
  }
  gid_t wanted = g->gr_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.c_str(), p->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.c_str(), p->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), wanted) != groups.end();
}

// Pages of the system's settings and logs: administrators' even to look
// at ("/addprinter" lists the devices the server finds).
bool AdministratorsPage(const char* path) {
  static const char* const kPages[] = {"/logs",     "/logfile.txt",     "/addprinter",
                                       "/network",  "/network-wifi",    "/security",
                                       "/tls-install-crt", "/tls-new-crt", "/tls-new-csr"};
  for (const char* page : kPages) {
    if (path && strcmp(path, page) == 0) return true;
  }
  return false;
}

RequestFacts Facts(pappl_client_t* client, const char* group, const AuthSettings& settings) {
  RequestFacts facts;
  // A web page has no IPP request (the operation PAPPL keeps is that of the
  // connection's last IPP request, if any).
  ipp_t* request = papplClientGetRequest(client);
  facts.web = request == nullptr;
  facts.webChange = facts.web && (papplClientGetMethod(client) == HTTP_STATE_POST ||
                                  AdministratorsPage(papplClientGetURI(client)));
  if (request) {
    facts.op = ippGetOperation(request);
    ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
    const char* name = format ? ippGetString(format, 0, nullptr) : nullptr;
    facts.rawDocument = name && strcasecmp(name, kRawFormat) == 0;
  }
  facts.adminAsked = group && settings.adminGroup == group;
  return facts;
}

// Jobs created by clients without credentials carry this attribute: their
// owner is only the name the client gave.
constexpr const char* kAnonymousOwner = "lumora-anonymous-owner";

// A request that creates a job: the job carries the marker exactly when
// its client gave no credentials (whatever the client sent itself).
void MarkOwner(pappl_client_t* client, Identity identity) {
  ipp_t* request = papplClientGetRequest(client);
  ipp_op_t op = request ? ippGetOperation(request) : IPP_OP_CUPS_NONE;
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_CREATE_JOB) return;
  ipp_attribute_t* sent = ippFindAttribute(request, kAnonymousOwner, IPP_TAG_ZERO);
  if (sent) ippDeleteAttribute(request, sent);
  if (identity == Identity::kAnonymous) ippAddBoolean(request, IPP_TAG_JOB, kAnonymousOwner, 1);
}

// The request's job was created without credentials, and the request's
// requesting-user-name names its owner.
bool SubmitterNamed(pappl_client_t* client) {
  pappl_job_t* job = papplClientGetJob(client);
  ipp_t* request = papplClientGetRequest(client);
  if (!job || !request || !papplJobGetUsername(job)) return false;
  if (!papplJobGetAttribute(job, kAnonymousOwner)) return false;
  ipp_attribute_t* name = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
  const char* text = name ? ippGetString(name, 0, nullptr) : nullptr;
  return text && strcmp(text, papplJobGetUsername(job)) == 0;
}

// The credentials of the request (HTTP Basic), checked with PAM.
Identity Identify(pappl_client_t* client, const AuthSettings& settings, std::string* user) {
  const char* header = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (!header || !*header) return Identity::kAnonymous;
  if (strncasecmp(header, "Basic ", 6) != 0) return Identity::kRefused;
  char decoded[512];
  int len = sizeof(decoded) - 1;
  httpDecode64_2(decoded, &len, header + 6);
  std::string pair(decoded, static_cast<size_t>(std::clamp(len, 0, int{sizeof(decoded) - 1})));
  size_t colon = pair.find(':');
  if (colon == std::string::npos) return Identity::kRefused;
  *user = pair.substr(0, colon);
  return CheckCredentials(settings, *user, pair.substr(colon + 1));
}

const char* RequestName(const RequestFacts& facts) {
  return facts.web ? "Web page" : ippOpString(facts.op);
}

bool PrinterPage(pappl_client_t* client, void* data) {
  // A refused form: PAPPL has answered 401 or 403; the form's body is
  // unread, so the connection ends here.
  if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client)) {
    return false;
  }
  _papplPrinterWebHome(client, static_cast<pappl_printer_t*>(data));
  return true;
}

}  // namespace

Need RequiredRight(const RequestFacts& facts) {
  // PAPPL asks about the pages that have forms: anyone may look at them.
  if (facts.web) return facts.webChange ? Need::kAdministrator : Need::kAnyone;
  switch (facts.op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_VALIDATE_JOB:
      if (facts.rawDocument) return Need::kAdministrator;
      break;
    // Administration PAPPL guards with the print group only.
    case IPP_OP_ENABLE_PRINTER:
    case IPP_OP_DISABLE_PRINTER:
    case IPP_OP_CANCEL_CURRENT_JOB:
      return Need::kAdministrator;
    default:
      break;
  }
  if (!facts.adminAsked) return Need::kAnyone;
  // PAPPL asks for the admin group for a job of another user (an anonymous
  // client is nobody's user): looking is free; a job sent without
  // credentials is its named submitter's; anything else is administration.
  switch (facts.op) {
    case IPP_OP_GET_JOB_ATTRIBUTES:
      return Need::kAnyone;
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
      return Need::kSubmitter;
    default:
      return Need::kAdministrator;
  }
}

http_status_t Decide(Need need, Identity identity, bool submitterNamed) {
  if (identity == Identity::kRefused) return HTTP_STATUS_UNAUTHORIZED;
  if (need == Need::kAnyone || identity == Identity::kAdministrator) return HTTP_STATUS_CONTINUE;
  if (need == Need::kSubmitter && identity == Identity::kAnonymous && submitterNamed) {
    return HTTP_STATUS_CONTINUE;
  }
  return identity == Identity::kAnonymous ? HTTP_STATUS_UNAUTHORIZED : HTTP_STATUS_FORBIDDEN;
}

Identity CheckCredentials(const AuthSettings& settings, const std::string& user,
                          const std::string& password) {
  if (user.empty() || !PamAccepts(settings.pamService, user, password)) return Identity::kRefused;
  return IsAdministrator(user, settings.adminGroup) ? Identity::kAdministrator : Identity::kUser;
}

http_status_t AuthCallback(pappl_client_t* client, const char* group, gid_t /*groupId*/,
                           void* data) {
  const AuthSettings& settings = *static_cast<const AuthSettings*>(data);
  RequestFacts facts = Facts(client, group, settings);
  Need need = RequiredRight(facts);
  std::string user;
  Identity identity = Identify(client, settings, &user);
  // The job owner PAPPL compares with and records: the authenticated user.
  bool known = identity == Identity::kUser || identity == Identity::kAdministrator;
  papplClientSetUsername(client, known ? user.c_str() : nullptr);
  MarkOwner(client, identity);
  http_status_t status = Decide(need, identity, need == Need::kSubmitter && SubmitterNamed(client));
  if (need == Need::kAdministrator && !user.empty()) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administration by \"%s\": %s.", user.c_str(),
                   httpStatus(status));
  } else if (status != HTTP_STATUS_CONTINUE) {
    const char* why = identity == Identity::kRefused ? "the credentials were refused"
                      : need == Need::kAdministrator
                          ? "it needs an administrator's user name and password"
                          : "the job is not the client's: it needs its owner's or an "
                            "administrator's user name and password";
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "%s refused: %s (%s).", RequestName(facts),
                   httpStatus(status), why);
  }
  // Allowed: what PAPPL cannot handle is answered here.
  if (status == HTTP_STATUS_CONTINUE && !facts.web) status = CheckRequest(client);
  return status;
}

bool RawStreamAllowed(pappl_job_t* job) {
  ipp_attribute_t* supplied = papplJobGetAttribute(job, "document-format-supplied");
  const char* format = supplied ? ippGetString(supplied, 0, nullptr) : nullptr;
  if (format && strcmp(format, kRawFormat) == 0) return true;
  SetJobMessage(job, "The document's format is not one the printer takes.");
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
              "Refused: a document of format '%s' goes to the printer as it is only when its "
              "submitter names %s (administrators only).",
              format ? format : "(none named)", kRawFormat);
  return false;
}

void GuardPrinterPage(pappl_printer_t* printer) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  if (!(papplSystemGetOptions(system) & PAPPL_SOPTIONS_WEB_INTERFACE)) return;
  // PAPPL adds the printer's pages after this, and keeps the first page
  // added at a path: this one.
  char path[1024];
  papplPrinterGetPath(printer, "", path, sizeof(path));
  papplSystemAddResourceCallback(system, path, "text/html", PrinterPage, printer);
}

}  // namespace lumora::app
