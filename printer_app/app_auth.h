// SPDX-License-Identifier: GPL-2.0-or-later
// Who may do what. Anyone who reaches the server may print and look (the
// printers, their jobs); administration (printers, defaults, pausing,
// other users' jobs, the logs, every web form that changes something, raw
// job streams) needs root or a member of the admin group:
// - on the local control socket, PAPPL lets every client through, so the
//   socket is reachable only by root and the admin group (app_server.h);
// - over TCP, whatever the client's address (loopback too), a user name and
//   password checked by PAM, sent with HTTP Basic (over TLS from other
//   machines: PAPPL sends their plain requests to TLS first).
// PAPPL asks this callback only where it checks anything, and for some
// administrative operations (Enable-Printer, Disable-Printer,
// Cancel-Current-Job) it asks only for the print group; the operation
// decides here, not the group PAPPL names.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora::app {

struct AuthSettings {
  std::string pamService;  // PAM service name ("lumora-printer-app")
  std::string adminGroup;  // group whose members may administer
};

// What a request needs.
enum class Need {
  kAnyone,         // printing and looking
  kSubmitter,      // a job sent without credentials: the request names its owner
  kAdministrator,  // root or a member of the admin group, authenticated
};

// What the request carries.
enum class Identity {
  kAnonymous,      // no credentials
  kRefused,        // credentials PAM refused
  kUser,           // a user PAM accepted, not an administrator
  kAdministrator,  // a member of the admin group PAM accepted
};

struct RequestFacts {
  bool web = false;         // a web page (not IPP)
  bool webChange = false;   // a form posted, or a page of the logs or system settings
  ipp_op_t op = IPP_OP_CUPS_NONE;
  bool adminAsked = false;  // PAPPL asks for the admin group
  bool rawDocument = false; // the document is declared a raw job stream
};

// The right a request needs.
Need RequiredRight(const RequestFacts& facts);

// The answer for a request: HTTP_STATUS_CONTINUE (allowed),
// HTTP_STATUS_UNAUTHORIZED (credentials needed or refused) or
// HTTP_STATUS_FORBIDDEN (authenticated, not allowed). submitterNamed: the
// job was sent without credentials and the request's requesting-user-name
// is its owner (a job sent with credentials, or on the control socket, is
// its owner's and the administrators' alone).
http_status_t Decide(Need need, Identity identity, bool submitterNamed);

// pappl_auth_cb_t (data: AuthSettings).
http_status_t AuthCallback(pappl_client_t* client, const char* group, gid_t groupId, void* data);

// Checks a user name and password with PAM and membership of the group.
Identity CheckCredentials(const AuthSettings& settings, const std::string& user,
                          const std::string& password);

// A job PAPPL hands the raw-stream callback may be sent as it is only if
// its submitter named the raw format (which only administrators may); PAPPL
// also hands it documents of no format it knows, and the jobs of its raw
// socket listener. Otherwise the job is refused with the reason.
bool RawStreamAllowed(pappl_job_t* job);

// The printer's web page: PAPPL takes its forms (pause, resume, hold and
// release new jobs, identify, set as default) from anyone; this puts an
// administrator's check in front. Called when a printer is created.
void GuardPrinterPage(pappl_printer_t* printer);

}  // namespace lumora::app
