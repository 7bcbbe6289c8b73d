// SPDX-License-Identifier: GPL-2.0-or-later
// Backend side of the CUPS side channel for the pre-filter tests: answers
// the filter's requests on CUPS_SC_FD with the real libcups calls.
//   lumora_sc_responder id TEXT   device-id requests get TEXT
//   lumora_sc_responder none      device-id requests get NOT_IMPLEMENTED
//   lumora_sc_responder silent    requests are read and never answered
// Ends when the filter closes its end.
#include <cups/sidechannel.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  const char* id = argc > 2 ? argv[2] : "";
  for (;;) {
    cups_sc_command_t command;
    cups_sc_status_t status;
    char data[2048];
    int len = sizeof(data);
    if (cupsSideChannelRead(&command, &status, data, &len, 60.0)) return 0;
    if (mode == "silent") continue;
    if (command == CUPS_SC_CMD_GET_DEVICE_ID && mode == "id")
      cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, id, static_cast<int>(strlen(id)), 1.0);
    else
      cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
  }
}
