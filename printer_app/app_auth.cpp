// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_auth.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumora_app {

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

bool InGroup(const std::string& user, const std::string& group) {
  struct group* g = getgrnam(group.c_str());
  struct passwd* p = getpwnam(user.c_str());
  if (!g || !p) return false;
  if (p->pw_gid == g->gr_gid) return true;
  for (char** m = g->gr_mem; m && *m; m++) {
    if (user == *m) return true;
  }
  return false;
}

}  // namespace

http_status_t CheckCredentials(const AuthSettings& settings, const std::string& user,
                               const std::string& password) {
  if (user.empty() || !PamAccepts(settings.pamService, user, password)) {
    return HTTP_STATUS_UNAUTHORIZED;
  }
  return InGroup(user, settings.adminGroup) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

http_status_t AuthCallback(pappl_client_t* client, const char* group, gid_t /*groupId*/,
                           void* data) {
  const AuthSettings& settings = *static_cast<const AuthSettings*>(data);
  http_t* http = papplClientGetHTTP(client);
  if (httpAddrLocalhost(httpGetAddress(http))) return HTTP_STATUS_CONTINUE;
  if (!group || settings.adminGroup != group) return HTTP_STATUS_CONTINUE;
  // PAPPL has already sent unencrypted remote requests to TLS.
  const char* header = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
  if (!header || strncmp(header, "Basic ", 6) != 0) return HTTP_STATUS_UNAUTHORIZED;
  char decoded[512];
  int len = sizeof(decoded);
  httpDecode64_2(decoded, &len, header + 6);
  std::string pair(decoded, strnlen(decoded, sizeof(decoded)));
  size_t colon = pair.find(':');
  if (colon == std::string::npos) return HTTP_STATUS_BAD_REQUEST;
  http_status_t status = CheckCredentials(settings, pair.substr(0, colon), pair.substr(colon + 1));
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administration by \"%s\": %s.",
                 pair.substr(0, colon).c_str(), httpStatus(status));
  return status;
}

}  // namespace lumora_app
