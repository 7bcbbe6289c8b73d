// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_discovery.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include "app_system.h"

// PAPPL 1.3.1's own "Add Printer" page (exported by libpappl, not declared
// in its headers).
extern "C" void _papplSystemWebAddPrinter(pappl_client_t* client, pappl_system_t* system);

namespace lumora_app {

namespace {

bool AddPrinterPage(pappl_client_t* client, void* data) {
  if (!papplClientHTMLAuthorize(client)) return false;
  std::string why = DiscoveryUnavailable();
  if (why.empty()) {
    _papplSystemWebAddPrinter(client, static_cast<pappl_system_t*>(data));
    return true;
  }
  papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Add Printer: network discovery is unavailable (%s).",
                 why.c_str());
  papplClientHTMLHeader(client, papplClientGetLocString(client, "Add Printer"), 0);
  papplClientHTMLPrintf(client,
                        "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n"
                        "<h1 class=\"title\">%s</h1>\n<div class=\"banner\">",
                        papplClientGetLocString(client, "Add Printer"));
  papplClientHTMLPrintf(client, "Network printer discovery is unavailable: ");
  papplClientHTMLEscape(client, why.c_str(), 0);
  papplClientHTMLPrintf(
      client,
      ".</div>\n<p>Discovery needs the avahi-daemon service and the system D-Bus. Printers "
      "on USB are added when they are connected; a network printer is added by its "
      "address with the command line, for example:</p>\n"
      "<pre>%s add -d office -m auto -v socket://192.0.2.10:9100</pre>\n"
      "</div></div></div>\n",
      kAppName);
  papplClientHTMLFooter(client);
  return true;
}

}  // namespace

std::string DiscoveryUnavailable() {
  // The client PAPPL makes (AVAHI_CLIENT_NO_FAIL: it waits for a daemon
  // that is not running yet, and fails only without D-Bus).
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  if (!poll) return "no event loop for avahi";
  int error = 0;
  AvahiClient* client = avahi_client_new(avahi_simple_poll_get(poll), AVAHI_CLIENT_NO_FAIL,
                                         [](AvahiClient*, AvahiClientState, void*) {}, nullptr,
                                         &error);
  std::string why;
  if (!client) {
    why = avahi_strerror(error);
  } else {
    avahi_client_free(client);
  }
  avahi_simple_poll_free(poll);
  return why;
}

void GuardAddPrinterPage(pappl_system_t* system) {
  if (!(papplSystemGetOptions(system) & PAPPL_SOPTIONS_WEB_INTERFACE)) return;
  papplSystemAddResourceCallback(system, "/addprinter", "text/html", AddPrinterPage, system);
}

}  // namespace lumora_app
