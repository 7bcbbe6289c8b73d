// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_drivers.h"

#include <strings.h>

#include <map>

namespace lumora::app {

const AppDriver kAppDrivers[] = {
#include "app_drivers.inc"
};
const int kAppDriverCount = sizeof(kAppDrivers) / sizeof(kAppDrivers[0]);

const AppDriver* FindAppDriver(const std::string& name) {
  for (const AppDriver& d : kAppDrivers) {
    if (name == d.name) return &d;
  }
  return nullptr;
}

namespace {

// "KEY:value;KEY:value;" -> {KEY: value}, keys upper-cased as the standard
// allows either spelling of a key's case.
std::map<std::string, std::string> ParseDeviceId(const std::string& id) {
  std::map<std::string, std::string> pairs;
  size_t pos = 0;
  while (pos < id.size()) {
    size_t end = id.find(';', pos);
    if (end == std::string::npos) end = id.size();
    std::string pair = id.substr(pos, end - pos);
    size_t colon = pair.find(':');
    if (colon != std::string::npos) {
      std::string key = pair.substr(0, colon);
      size_t first = key.find_first_not_of(' ');
      key = first == std::string::npos ? "" : key.substr(first);
      for (char& c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      pairs[key] = pair.substr(colon + 1);
    }
    pos = end + 1;
  }
  return pairs;
}

std::string Field(const std::map<std::string, std::string>& pairs, const char* shortKey,
                  const char* longKey) {
  auto it = pairs.find(shortKey);
  if (it == pairs.end()) it = pairs.find(longKey);
  return it == pairs.end() ? std::string() : it->second;
}

}  // namespace

const AppDriver* MatchAppDriver(const std::string& deviceId) {
  auto printer = ParseDeviceId(deviceId);
  std::string make = Field(printer, "MFG", "MANUFACTURER");
  std::string model = Field(printer, "MDL", "MODEL");
  if (make.empty() || model.empty()) return nullptr;
  for (const AppDriver& d : kAppDrivers) {
    auto ours = ParseDeviceId(d.deviceId);
    if (strcasecmp(make.c_str(), ours["MFG"].c_str()) == 0 &&
        strcasecmp(model.c_str(), ours["MDL"].c_str()) == 0) {
      return &d;
    }
  }
  return nullptr;
}

namespace {

std::optional<std::string> Text(const char* s) {
  if (!s) return std::nullopt;
  return std::string(s);
}

}  // namespace

lumora::PrinterDescription DescribePrinter(const AppDriver& driver) {
  lumora::PrinterDescription p;
  p.modelName = driver.modelName;
  p.platform = Text(driver.platform);
  p.supportManualDuplex = Text(driver.supportManualDuplex);
  p.manualDuplexPrompt = Text(driver.manualDuplexPrompt);
  for (int i = 0; i < 4; i++) p.customMargins[i] = driver.customMargins[i];
  p.defaultInputSlot = Text(driver.defaultInputSlot);
  p.defaultFeedLongEdge = Text(driver.defaultFeedLongEdge);
  p.defaultTonerMode = Text(driver.defaultTonerMode);
  p.defaultImageRotation = Text(driver.defaultImageRotation);
  p.defaultNegativePrint = Text(driver.defaultNegativePrint);
  p.defaultDensity = Text(driver.defaultDensity);
  return p;
}

const AppPaper* FindPaper(const AppDriver& driver, const std::string& pwgName) {
  for (const AppPaper& p : driver.papers) {
    if (pwgName == p.pwgName) return &p;
  }
  return nullptr;
}

int ResolutionCount(const AppDriver& driver) {
  int n = 0;
  while (n < kMaxResolutions && driver.resolutions[n] > 0) n++;
  return n;
}

int SourceCount(const AppDriver& driver) {
  int n = 0;
  while (n < kMaxSources && driver.sources[n]) n++;
  return n;
}

}  // namespace lumora::app
