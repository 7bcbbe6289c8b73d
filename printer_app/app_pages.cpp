// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_pages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app_add_page.h"
#include "app_drivers.h"
#include "app_system.h"

// PAPPL 1.3.1's own pages of a printer (exported by libpappl, not declared
// in its headers): the mends below run around them.
extern "C" void _papplPrinterWebMedia(pappl_client_t* client, pappl_printer_t* printer);
extern "C" void _papplPrinterWebDefaults(pappl_client_t* client, pappl_printer_t* printer);

namespace lumora::app {

namespace {

#include "app_assets.inc"

// How long a printer that did not answer for its supplies is left alone.
constexpr time_t kQuietSupplySeconds = 600;

// The media page posts only the sources it shows, and PAPPL empties the
// others: the manual-feed slot, which it never shows, loses its paper and
// its name. The slots the form emptied get back what they held.
bool MediaPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  pappl_pr_driver_data_t before;
  papplPrinterGetDriverData(printer, &before);
  _papplPrinterWebMedia(client, printer);
  if (papplClientGetMethod(client) != HTTP_STATE_POST) return true;
  pappl_pr_driver_data_t after;
  papplPrinterGetDriverData(printer, &after);
  bool mended = false;
  for (int i = 0; i < after.num_source; i++) {
    if (!after.media_ready[i].source[0] && !after.media_ready[i].size_name[0]) {
      after.media_ready[i] = before.media_ready[i];
      mended = true;
    }
  }
  if (mended) papplPrinterSetReadyMedia(printer, after.num_source, after.media_ready);
  return true;
}

// The printing-defaults page offers as "media" the paper of each source
// but the manual one, and saving makes that source the default: on a
// printer with one tray, "Automatic" became "Tray" on every save. With one
// source to choose there is no choice of source: the default keeps its
// source and takes the chosen paper.
bool DefaultsPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  pappl_pr_driver_data_t before;
  papplPrinterGetDriverData(printer, &before);
  _papplPrinterWebDefaults(client, printer);
  if (papplClientGetMethod(client) != HTTP_STATE_POST) return true;
  int offered = 0;
  for (int i = 0; i < before.num_source; i++) offered += strcmp(before.source[i], "manual") != 0;
  pappl_pr_driver_data_t after;
  papplPrinterGetDriverData(printer, &after);
  if (offered == 1 && strcmp(after.media_default.source, before.media_default.source) != 0) {
    papplCopyString(after.media_default.source, before.media_default.source,
                    sizeof(after.media_default.source));
    papplPrinterSetDriverDefaults(printer, &after, 0, nullptr);
  }
  return true;
}

// The supply levels, an unknown one said as such (PAPPL draws it as an
// empty bar, "toner empty").
bool SuppliesPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  pappl_supply_t supplies[16];
  int count = papplPrinterGetSupplies(printer, 16, supplies);
  papplClientHTMLPrinterHeader(client, printer, "Supplies", 0, nullptr, nullptr);
  papplClientHTMLPuts(client, "          <table class=\"form\">\n            <tbody>\n");
  for (int i = 0; i < count; i++) {
    papplClientHTMLPuts(client, "              <tr><th>");
    papplClientHTMLEscape(client, papplClientGetLocString(client, supplies[i].description), 0);
    papplClientHTMLPuts(client, ":</th><td>");
    if (supplies[i].level >= 0 && supplies[i].level <= 100) {
      papplClientHTMLPrintf(client,
                            "<meter min=\"0\" max=\"100\" low=\"10\" value=\"%d\"></meter> %d%%",
                            supplies[i].level, supplies[i].level);
    } else {
      papplClientHTMLEscape(
          client, papplClientGetLocString(client, "The printer does not report this level"), 0);
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
  }
  papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

constexpr const char* kTwoSidedLink = "Two-sided printing (turn the stack by hand)";

// What two-sided printing means on a manual-duplex printer.
bool TwoSidedPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  papplClientHTMLPrinterHeader(client, printer, kTwoSidedLink, 0, nullptr, nullptr);
  papplClientHTMLPuts(client, "          <p>");
  papplClientHTMLEscape(
      client,
      papplClientGetLocString(
          client, "This printer prints the back sides after you turn the printed stack over. "
                  "When it stops after the front sides, take the printed stack, turn it over and "
                  "put it back in the tray; the printer then prints the back sides."),
      0);
  papplClientHTMLPuts(client, "</p>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool ManualDuplex(pappl_printer_t* printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  for (int i = 0; i < kAppDriverCount; i++) {
    if (data.extension == &kAppDrivers[i]) return kAppDrivers[i].duplex == kManualDuplex;
  }
  return false;
}

void AddPage(pappl_printer_t* printer, const char* page, pappl_resource_cb_t cb) {
  char path[1024];
  papplPrinterGetPath(printer, page, path, sizeof(path));
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", cb, printer);
}

// pappl_pr_testpage_cb_t: the test page, a file in the spool directory
// (PAPPL removes the job's file once it is printed).
const char* TestPage(pappl_printer_t* printer, char* buffer, size_t size) {
  AppContext* ctx = SystemContext(papplPrinterGetSystem(printer));
  if (!ctx || ctx->spoolDirectory.empty()) return nullptr;
  snprintf(buffer, size, "%s/test-page-XXXXXX.pdf", ctx->spoolDirectory.c_str());
  int fd = mkostemps(buffer, 4, O_CLOEXEC);
  if (fd < 0) return nullptr;
  bool ok = write(fd, kTestPagePdf, kTestPagePdfSize) == static_cast<ssize_t>(kTestPagePdfSize);
  if (close(fd) != 0 || !ok) {
    unlink(buffer);
    return nullptr;
  }
  return buffer;
}

}  // namespace

void AddSystemPages(pappl_system_t* system) {
  papplSystemAddResourceData(system, "/favicon.png", "image/png", kIconMedium, kIconMediumSize);
  papplSystemAddResourceData(system, "/navicon.png", "image/png", kIconSmall, kIconSmallSize);
  if (papplSystemGetOptions(system) & PAPPL_SOPTIONS_WEB_INTERFACE) {
    papplSystemAddResourceCallback(system, "/addprinter", "text/html", AddPrinterPage, system);
  }
}

void AddPrinterPages(pappl_printer_t* printer) {
  if (!(papplSystemGetOptions(papplPrinterGetSystem(printer)) & PAPPL_SOPTIONS_WEB_INTERFACE)) {
    return;
  }
  AddPage(printer, "media", MediaPage);
  AddPage(printer, "printing", DefaultsPage);
  AddPage(printer, "supplies", SuppliesPage);
  if (ManualDuplex(printer)) {
    AddPage(printer, "two-sided", TwoSidedPage);
    char path[1024];
    papplPrinterGetPath(printer, "two-sided", path, sizeof(path));
    papplPrinterAddLink(printer, kTwoSidedLink, path,
                        PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
  }
}

void FillIconsAndTestPage(pappl_pr_driver_data_t* data) {
  const unsigned char* icons[] = {kIconSmall, kIconMedium, kIconLarge};
  const size_t sizes[] = {kIconSmallSize, kIconMediumSize, kIconLargeSize};
  for (int i = 0; i < 3; i++) {
    data->icons[i].data = icons[i];
    data->icons[i].datalen = sizes[i];
  }
  data->testpage_cb = TestPage;
}

namespace {

// The printer has not said lately that it reports no supplies.
bool SuppliesDue(AppContext* ctx, pappl_printer_t* printer) {
  std::lock_guard<std::mutex> lock(ctx->supplyPolls.mutex);
  auto it = ctx->supplyPolls.quietUntil.find(printer);
  return it == ctx->supplyPolls.quietUntil.end() || time(nullptr) >= it->second;
}

void PollSupplies(AppContext* ctx, pappl_job_t* job, pappl_device_t* device) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pappl_supply_t supplies[16];
  int count = papplDeviceGetSupplies(device, 16, supplies);
  {
    std::lock_guard<std::mutex> lock(ctx->supplyPolls.mutex);
    if (count > 0) ctx->supplyPolls.quietUntil.erase(printer);
    else ctx->supplyPolls.quietUntil[printer] = time(nullptr) + kQuietSupplySeconds;
  }
  if (count <= 0) return;
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "The printer reports %d supplies.", count);
  papplPrinterSetSupplies(printer, count, supplies);
}

}  // namespace

SupplyPoll::SupplyPoll(pappl_job_t* job, pappl_device_t* device) {
  AppContext* ctx = SystemContext(papplPrinterGetSystem(papplJobGetPrinter(job)));
  if (!ctx || !device || !SuppliesDue(ctx, papplJobGetPrinter(job))) return;
  thread_ = std::thread(PollSupplies, ctx, job, device);
}

SupplyPoll::~SupplyPoll() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace lumora::app
