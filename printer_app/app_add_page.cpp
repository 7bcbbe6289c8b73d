// SPDX-License-Identifier: GPL-2.0-or-later
// The "Add Printer" page. PAPPL 1.3.1's lists every device through DNS-SD
// (without the mDNS daemon the process aborts there), refuses "host:port"
// in the browser, forgets the chosen device when the form comes back with
// a message, lists the models in one flat list and auto-detects no network
// printer. This one lists the USB printers, takes a network printer as
// "host" or "host:port" (socket://, port 9100 by default), keeps what was
// entered, lists the models by family with manual duplex and 1200 dpi
// marked, and auto-detects a model from the IEEE-1284 id the printer
// reports (USB, or SNMP for a network printer).
#include "app_add_page.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app_driver.h"
#include "app_drivers.h"
#include "ps_drivers.h"

namespace lumora::app {

namespace {

struct Form {
  std::string name, device, host, driver;
};

struct ModelEntry {
  std::string family;  // heading
  std::string name;    // driver name
  std::string text;    // description
  bool manualDuplex = false;
  bool dpi1200 = false;
};

std::vector<ModelEntry> Models() {
  std::vector<ModelEntry> models;
  for (int i = 0; i < kAppDriverCount; i++) {
    const AppDriver& d = kAppDrivers[i];
    std::string text = d.description;
    std::string family = text.substr(text.find(' ') + 1);
    family = family.substr(0, family.find(' '));
    models.push_back({family, d.name, text, d.duplex == kManualDuplex, d.dpi1200});
  }
  for (int i = 0; i < kPsDriverCount; i++) {
    const PsDriver& d = kPsDrivers[i];
    const char* family = d.family == PsFamily::kMaple   ? "MP PostScript"
                         : d.family == PsFamily::kLarch ? "LP PostScript"
                                                        : "OP PostScript";
    models.push_back({family, d.name, d.description, false, false});
  }
  std::stable_sort(models.begin(), models.end(), [](const ModelEntry& a, const ModelEntry& b) {
    return a.family != b.family ? a.family < b.family : a.text < b.text;
  });
  return models;
}

struct DeviceList {
  pappl_client_t* client;
  const std::string* chosen;
};

bool ListDevice(const char* info, const char* uri, const char* id, void* data) {
  auto* list = static_cast<DeviceList*>(data);
  std::string value = std::string(uri) + "|" + (id ? id : "");
  papplClientHTMLPuts(list->client, "<option value=\"");
  papplClientHTMLEscape(list->client, value.c_str(), 0);
  papplClientHTMLPrintf(list->client, "\"%s>", *list->chosen == value ? " selected" : "");
  papplClientHTMLEscape(list->client, info, 0);
  papplClientHTMLPuts(list->client, "</option>");
  return false;
}

// "host" or "host:port" (a bracketed IPv6 address with its port) as a
// socket:// URI, or "" when it is not one.
std::string SocketUri(const std::string& text) {
  std::string host = text, port = "9100";
  size_t close = text.rfind(']');
  size_t colon = text.rfind(':');
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  char* end = nullptr;
  long number = strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end || number < 1 || number > 65535) return "";
  // An IPv6 address stands in brackets; nothing else takes a colon.
  bool bracketed = host.front() == '[' && host.back() == ']';
  if (host.find_first_of(" /?#@") != std::string::npos ||
      (!bracketed && host.find(':') != std::string::npos)) {
    return "";
  }
  return "socket://" + host + ":" + std::to_string(number);
}

// The driver of the printer's reported IEEE-1284 id, or "".
std::string DetectDriver(pappl_system_t* system, const std::string& uri, const char* id) {
  std::string deviceId = id ? id : "";
  if (deviceId.empty()) {
    pappl_device_t* device = papplDeviceOpen(uri.c_str(), "auto", papplLogDevice, system);
    char buffer[1024] = "";
    if (device && papplDeviceGetID(device, buffer, sizeof(buffer))) deviceId = buffer;
    if (device) papplDeviceClose(device);
  }
  const char* driver = AutoAddCallback(nullptr, uri.c_str(), deviceId.c_str(), nullptr);
  return driver ? driver : "";
}

// The printer of the form, or the message why not.
const char* AddFromForm(pappl_client_t* client, const Form& form) {
  pappl_system_t* system = papplClientGetSystem(client);
  std::string uri = form.device;
  std::string id;
  if (size_t bar = uri.find('|'); bar != std::string::npos) {
    id = uri.substr(bar + 1);
    uri = uri.substr(0, bar);
  }
  if (form.name.empty()) return "Please enter a printer name.";
  if (uri == "socket") {
    uri = SocketUri(form.host);
    if (uri.empty()) return "Please enter the printer's host name or address, and its port if not 9100.";
  }
  if (uri.empty()) return "Please select a device.";
  std::string driver = form.driver;
  if (driver == "auto") {
    driver = DetectDriver(system, uri, id.empty() ? nullptr : id.c_str());
    if (driver.empty()) return "The printer did not report a model this application knows; choose its model.";
  }
  if (driver.empty()) return "Please select a driver.";
  pappl_printer_t* printer = papplPrinterCreate(system, 0, form.name.c_str(), driver.c_str(),
                                                id.empty() ? nullptr : id.c_str(), uri.c_str());
  if (!printer) {
    return errno == EEXIST ? "A printer with that name already exists."
           : errno == EINVAL ? "Printer names must start with a letter or underscore and cannot contain special characters."
                             : "Unable to use that driver.";
  }
  char path[1024];
  papplPrinterGetPath(printer, "", path, sizeof(path));
  papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
  return nullptr;
}

void Row(pappl_client_t* client, const char* label, const char* field) {
  papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">%s:</label></th><td>", field,
                        papplClientGetLocString(client, label));
}

void DriverSelect(pappl_client_t* client, const Form& form) {
  papplClientHTMLPrintf(client, "<select name=\"driver_name\" id=\"driver_name\"><option value=\"auto\">%s</option>",
                        papplClientGetLocString(client, "Auto-Detect Driver"));
  std::string family;
  for (const ModelEntry& m : Models()) {
    if (m.family != family) {
      if (!family.empty()) papplClientHTMLPuts(client, "</optgroup>");
      family = m.family;
      papplClientHTMLPuts(client, "<optgroup label=\"");
      papplClientHTMLEscape(client, papplClientGetLocString(client, family.c_str()), 0);
      papplClientHTMLPuts(client, "\">");
    }
    std::string text = m.text;
    if (m.manualDuplex) text += std::string(", ") + papplClientGetLocString(client, "manual duplex");
    if (m.dpi1200) text += std::string(", ") + papplClientGetLocString(client, "1200 DPI");
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>", m.name.c_str(),
                          m.name == form.driver ? " selected" : "");
    papplClientHTMLEscape(client, text.c_str(), 0);
    papplClientHTMLPuts(client, "</option>");
  }
  papplClientHTMLPuts(client, "</optgroup></select></td></tr>\n");
}

void ShowForm(pappl_client_t* client, const Form& form, const char* status) {
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return;
  papplClientHTMLHeader(client, "Add Printer", 0);
  papplClientHTMLPrintf(client, "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">"
                        "<h1 class=\"title\">%s</h1>\n", papplClientGetLocString(client, "Add Printer"));
  if (status) {
    papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n",
                          papplClientGetLocString(client, status));
  }
  papplClientHTMLStartForm(client, "/addprinter", false);
  papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n");
  Row(client, "Name", "printer_name");
  papplClientHTMLPrintf(client, "<input type=\"text\" name=\"printer_name\" id=\"printer_name\" placeholder=\"%s\" value=\"",
                        papplClientGetLocString(client, "Name of printer"));
  papplClientHTMLEscape(client, form.name.c_str(), 0);
  papplClientHTMLPuts(client, "\" required></td></tr>\n");
  Row(client, "Device", "device_uri");
  papplClientHTMLPrintf(client, "<select name=\"device_uri\" id=\"device_uri\"><option value=\"socket\"%s>%s</option>",
                        form.device == "socket" || form.device.empty() ? " selected" : "",
                        papplClientGetLocString(client, "Network Printer"));
  DeviceList list{client, &form.device};
  papplDeviceList(PAPPL_DEVTYPE_USB, ListDevice, &list, papplLogDevice, papplClientGetSystem(client));
  papplClientHTMLPuts(client, "</select></td></tr>\n");
  Row(client, "Hostname/IP Address", "hostname");
  papplClientHTMLPrintf(client, "<input type=\"text\" name=\"hostname\" id=\"hostname\" placeholder=\"%s\" value=\"",
                        papplClientGetLocString(client, "host name or address (and port, if not 9100)"));
  papplClientHTMLEscape(client, form.host.c_str(), 0);
  papplClientHTMLPuts(client, "\"></td></tr>\n");
  Row(client, "Driver Name", "driver_name");
  DriverSelect(client, form);
  papplClientHTMLPrintf(client, "<tr><th></th><td><input type=\"submit\" value=\"%s\"></td></tr>\n"
                        "</tbody></table></form></div></div></div>\n",
                        papplClientGetLocString(client, "Add Printer"));
  papplClientHTMLFooter(client);
}

}  // namespace

bool AddPrinterPage(pappl_client_t* client, void* /*data*/) {
  if (!papplClientHTMLAuthorize(client)) return true;
  Form form;
  const char* status = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    cups_option_t* options = nullptr;
    int count = papplClientGetForm(client, &options);
    if (count == 0) {
      status = "Invalid form data.";
    } else if (!papplClientIsValidForm(client, count, options)) {
      status = "Invalid form submission.";
    } else {
      auto get = [&](const char* name) {
        const char* v = cupsGetOption(name, count, options);
        return std::string(v ? v : "");
      };
      form = {get("printer_name"), get("device_uri"), get("hostname"), get("driver_name")};
      status = AddFromForm(client, form);
    }
    cupsFreeOptions(count, options);
    if (!status) return true;  // redirected to the new printer
  }
  ShowForm(client, form, status);
  return true;
}

}  // namespace lumora::app
