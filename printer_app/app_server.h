// SPDX-License-Identifier: GPL-2.0-or-later
// The program's sub-commands, and the server's local control socket.
//
// PAPPL lets every client of the control socket administer the server, and
// creates the socket world-writable (at /run/NAME.sock for root, else
// $TMPDIR/NAMEuid.sock). The server therefore binds it inside a directory
// of its own (0750, group the admin group, for root; 0700 otherwise) and
// puts a symbolic link at the path the command line looks for: only root
// and the admin group reach it. Other users are told to print over IPP.
#pragma once

#include <sys/types.h>

#include <string>

#include "app_system.h"

namespace lumora::app {

// Runs the program: "server" here, every other sub-command through
// papplMainloop.
int RunCommand(int argc, char* argv[]);

// Where PAPPL's command line looks for the server of a user (uid 0: the
// system's server).
std::string ControlSocketPath(const std::string& baseName, uid_t uid);

// The control socket of a running server: made private by Open, removed by
// the destructor.
class ControlSocket {
 public:
  // group: the group that may reach it as well as the owner, or -1.
  ControlSocket(std::string path, gid_t group) : path_(std::move(path)), group_(group) {}
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Makes the private directory, has the system listen in it and links the
  // path to it. Returns why it cannot, or "".
  std::string Open(pappl_system_t* system);
  const std::string& Directory() const { return dir_; }

 private:
  std::string path_;    // where the command line connects (a symbolic link)
  std::string dir_;     // the private directory
  std::string socket_;  // the socket in it
  gid_t group_;
  bool linked_ = false;
};

// Why a command of this user cannot reach the system's server ("" when it
// can, or when it names a server by URI, or has one of its own).
std::string ControlSocketRefusal(const std::string& baseName, uid_t uid);

}  // namespace lumora::app
