// SPDX-License-Identifier: GPL-2.0-or-later
// Who may do what over the network. Clients on the loopback interface (and
// the command line, on the local socket) may do everything, as PAPPL allows
// them without an authentication service. Remote clients, present only when
// the administrator opened the server to the network, may print and look;
// administration (adding printers, changing defaults, the web interface's
// settings) needs a user name and password checked by PAM, over TLS, from a
// member of the admin group.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora_app {

struct AuthSettings {
  std::string pamService;  // PAM service name ("lumora-printer-app")
  std::string adminGroup;  // group whose members may administer remotely
};

// pappl_auth_cb_t (data: AuthSettings).
http_status_t AuthCallback(pappl_client_t* client, const char* group, gid_t groupId, void* data);

// Checks a user name and password with PAM and membership of the group.
http_status_t CheckCredentials(const AuthSettings& settings, const std::string& user,
                               const std::string& password);

}  // namespace lumora_app
