// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_system.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app_driver.h"
#include "app_pages.h"
#include "app_file_device.h"
#include "app_drivers.h"
#include "app_state.h"
#include "app_strings.h"
#include "image_filter.h"
#include "job_queue.h"
#include "pdf_filter.h"
#include "raster_adapter.h"
#include "ps_driver.h"

namespace lumora::app {

const char kAppVersion[] = LUMORA_VERSION;

namespace {

std::string StateHome() {
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/" + kAppName;
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : papplGetTempDir()) + "/.local/state/" + kAppName;
}

std::string Option(int n, cups_option_t* options, const char* name, const std::string& def) {
  const char* v = cupsGetOption(name, n, options);
  return v ? v : def;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host.rfind("127.", 0) == 0 || host == "::1" || host == "[::1]";
}

pappl_soptions_t ServerOptions(const std::string& list, bool remote) {
  pappl_soptions_t soptions =
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
  // Remote management only where remote access is wanted; PAPPL then asks
  // remote administrators to authenticate (PAM) over TLS.
  if (remote) soptions |= PAPPL_SOPTIONS_WEB_REMOTE;
  static const struct {
    const char* name;
    pappl_soptions_t bit;
    bool set;
  } kNames[] = {{"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, true},
                {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, true},
                {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, true},
                {"web-tls", PAPPL_SOPTIONS_WEB_TLS, true},
                {"no-tls", PAPPL_SOPTIONS_NO_TLS, true},
                {"no-web-interface", PAPPL_SOPTIONS_WEB_INTERFACE, false},
                {"no-multi-queue", PAPPL_SOPTIONS_MULTI_QUEUE, false}};
  size_t pos = 0;
  while (pos <= list.size() && !list.empty()) {
    size_t end = list.find(',', pos);
    if (end == std::string::npos) end = list.size();
    std::string word = list.substr(pos, end - pos);
    // PAPPL's security page sets an access password and groups that
    // nothing checks here (administration is PAM and -o admin-group).
    if (word == "web-security") {
      fprintf(stderr, "%s: web-security is not offered: administrators are root and the "
              "members of the admin group (-o admin-group=NAME).\n", kAppName);
    }
    for (const auto& n : kNames) {
      if (word == n.name) soptions = n.set ? (soptions | n.bit) : (soptions & ~n.bit);
    }
    pos = end + 1;
  }
  return soptions;
}

// The systems this process created and their contexts.
struct ContextList {
  std::mutex mutex;
  std::vector<std::pair<pappl_system_t*, AppContext*>> list;
};

ContextList& Contexts() {
  static ContextList contexts;
  return contexts;
}

void RegisterContext(pappl_system_t* system, AppContext* ctx) {
  ContextList& c = Contexts();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.list.emplace_back(system, ctx);
}

pappl_loglevel_t LogLevel(const std::string& name) {
  static const std::pair<const char*, pappl_loglevel_t> kLevels[] = {
      {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},
      {"warn", PAPPL_LOGLEVEL_WARN},   {"error", PAPPL_LOGLEVEL_ERROR},
      {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& [n, level] : kLevels) {
    if (name == n) return level;
  }
  return PAPPL_LOGLEVEL_WARN;
}

bool SaveState(pappl_system_t* system, void* data) {
  return SaveStateFile(system, static_cast<AppContext*>(data)->stateFile);
}

// The state file and the jobs it holds.
void LoadState(pappl_system_t* system, AppContext& ctx) {
  RemoveUnfinishedStates(ctx.stateFile);
#if LUMORA_PAPPL_PRIVATE
  const std::vector<EndedJob> ended = EndInterruptedJobs(ctx.stateFile, time(nullptr));
#else
  const std::vector<EndedJob> ended;
#endif
  papplSystemLoadState(system, ctx.stateFile.c_str());
  AdoptReloadedJobs(system, ended);
  ctx.waits->Restore(system);
}

std::string DefaultAdminGroup() { return getgrnam("lpadmin") ? "lpadmin" : "root"; }

// Server settings that do not change the system's creation.
void Configure(pappl_system_t* system, AppContext& ctx) {
  papplSystemSetPrinterDrivers(system, static_cast<int>(ctx.drivers.size()), ctx.drivers.data(),
                               AutoAddCallback, CreateCallback, DriverCallback, &ctx);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PdfFilter, &ctx);
  // Found before PAPPL's own image converters (to PWG raster).
  papplSystemAddMIMEFilter(system, "image/jpeg", kRawFormat, ImageFilter, nullptr);
  papplSystemAddMIMEFilter(system, "image/png", kRawFormat, ImageFilter, nullptr);
  AddPsFilters(system, ctx);
  papplSystemSetAdminGroup(system, ctx.auth.adminGroup.c_str());
  papplSystemSetAuthCallback(system, "Basic", AuthCallback, &ctx.auth);
  papplSystemSetFooterHTML(system, kFooterHtml);
  AddAppStrings(system);
  AddSystemPages(system);
  // The system keeps its own copy.
  pappl_version_t version = {"lumora-printer-app", "", LUMORA_VERSION, {LUMORA_VERSION_PARTS}};
  papplSystemSetVersions(system, 1, &version);
}

}  // namespace

AppContext::AppContext(int argc, char* argv[]) {
  if (argc > 1 && argv[1][0] != '-') subcommand = argv[1];
  for (int i = 0; i < kAppDriverCount; i++) {
    const AppDriver& d = kAppDrivers[i];
    drivers.push_back({d.name, d.description, d.deviceId, nullptr});
  }
  for (int i = 0; i < kPsDriverCount; i++) {
    const PsDriver& d = kPsDrivers[i];
    drivers.push_back({d.name, d.description, d.deviceId, nullptr});
  }
}

AppContext* SystemContext(pappl_system_t* system) {
  ContextList& c = Contexts();
  std::lock_guard<std::mutex> lock(c.mutex);
  for (const auto& [s, ctx] : c.list) {
    if (s == system) return ctx;
  }
  return nullptr;
}

std::string DefaultStateFile(uid_t uid) {
  if (uid == 0) return std::string("/var/lib/") + kAppName + "/" + kAppName + ".state";
  return StateHome() + "/" + kAppName + ".state";
}

std::string DefaultSpoolDirectory(uid_t uid) {
  if (uid == 0) return std::string("/var/spool/") + kAppName;
  return StateHome() + "/spool";
}

std::string MakePrivateDirectory(const std::string& path) {
  if (path.empty() || path[0] != '/') return "the spool directory must be an absolute path";
  for (size_t pos = 1; pos <= path.size(); pos++) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    bool last = pos >= path.size() - (path.back() == '/' ? 1 : 0);
    if (mkdir(part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
      return part + ": " + strerror(errno);
    }
    if (last) break;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path + " is not a directory";
  if (st.st_uid != geteuid()) return path + " belongs to another user";
  if (st.st_mode & (S_ISVTX | S_IWOTH)) return path + " is a shared directory";
  if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
    return path + ": " + strerror(errno);
  }
  return "";
}

pappl_system_t* SystemCallback(int n, cups_option_t* options, void* data) {
  AppContext& ctx = *static_cast<AppContext*>(data);
  uid_t uid = geteuid();
  bool privateServer = cupsGetOption("private-server", n, options) != nullptr;
  std::string tmp = std::string(papplGetTempDir()) + "/" + kAppName + std::to_string(uid);
  std::string spool = Option(n, options, "spool-directory",
                             privateServer ? tmp + ".d" : DefaultSpoolDirectory(uid));
  std::string why = MakePrivateDirectory(spool);
  if (!why.empty()) {
    fprintf(stderr, "%s: %s\n", kAppName, why.c_str());
    return nullptr;
  }
  ctx.spoolDirectory = spool;
  const char* stateFile = cupsGetOption("state-file", n, options);
  ctx.stateFile = stateFile ? stateFile : privateServer ? tmp + ".state" : DefaultStateFile(uid);
  if (!stateFile && !privateServer) {
    MakePrivateDirectory(ctx.stateFile.substr(0, ctx.stateFile.rfind('/')));
  }
  std::string listen = Option(n, options, "listen-hostname", "localhost");
  bool remote = !IsLoopback(listen);
  int port = atoi(Option(n, options, "server-port", std::to_string(kDefaultPort)).c_str());
  std::string logFile = Option(n, options, "log-file", "");
  ctx.auth.pamService = Option(n, options, "auth-service", kAppName);
  ctx.auth.adminGroup = Option(n, options, "admin-group", DefaultAdminGroup());
  ctx.fileDirectory = Option(n, options, "file-device-directory", "");
  ctx.documentTimeout = atoi(Option(n, options, "multiple-operation-timeout",
                                    std::to_string(kDefaultDocumentTimeout)).c_str());
  if (!ctx.fileDirectory.empty() && !(why = CheckFileDirectory(ctx.fileDirectory)).empty()) {
    fprintf(stderr, "%s: -o file-device-directory: %s\n", kAppName, why.c_str());
    return nullptr;
  }
  pappl_system_t* system = papplSystemCreate(
      ServerOptions(Option(n, options, "server-options", ""), remote),
      Option(n, options, "server-name", "Lumora Printers").c_str(), port, "_print,_universal",
      spool.c_str(), logFile.empty() ? nullptr : logFile.c_str(),
      LogLevel(Option(n, options, "log-level", "warn")), nullptr, false);
  if (!system) return nullptr;
  ctx.waits = std::make_unique<DuplexWaits>(ctx.stateFile + ".waits");
  RegisterContext(system, &ctx);
  Configure(system, ctx);
  // Only a real server listens on the network, and by default only on the
  // loopback interface; the other sub-commands run this callback too.
  if (ctx.subcommand == "server" && !privateServer) {
    if (!remote) papplSystemSetHostName(system, "localhost");
    if (!papplSystemAddListeners(system, listen == "*" ? nullptr : listen.c_str())) {
      fprintf(stderr, "%s: cannot listen on %s:%d\n", kAppName, listen.c_str(), port);
      papplSystemDelete(system);
      return nullptr;
    }
  }
  LoadState(system, ctx);
  papplSystemSetSaveCallback(system, SaveState, &ctx);
  return system;
}

}  // namespace lumora::app
