// SPDX-License-Identifier: GPL-2.0-or-later
#include "ps_drivers.h"

#include <pappl/pappl.h>
#include <strings.h>

namespace lumora::app {

const PsDriver kPsDrivers[] = {
#include "app_ps_drivers.inc"
};
const int kPsDriverCount = sizeof(kPsDrivers) / sizeof(kPsDrivers[0]);

const PsDriver* FindPsDriver(const std::string& name) {
  for (const PsDriver& d : kPsDrivers) {
    if (name == d.name) return &d;
  }
  return nullptr;
}

namespace {

// The maker and model of a device id ("MFG"/"MANUFACTURER", "MDL"/"MODEL").
struct MakeModel {
  std::string make, model;
};

MakeModel ParseMakeModel(const std::string& id) {
  cups_option_t* pairs = nullptr;
  int n = papplDeviceParseID(id.c_str(), &pairs);
  const char* make = cupsGetOption("MFG", n, pairs);
  if (!make) make = cupsGetOption("MANUFACTURER", n, pairs);
  const char* model = cupsGetOption("MDL", n, pairs);
  if (!model) model = cupsGetOption("MODEL", n, pairs);
  MakeModel mm{make ? make : "", model ? model : ""};
  cupsFreeOptions(n, pairs);
  return mm;
}

}  // namespace

const PsDriver* MatchPsDriver(const std::string& deviceId) {
  MakeModel printer = ParseMakeModel(deviceId);
  if (printer.make.empty() || printer.model.empty()) return nullptr;
  for (const PsDriver& d : kPsDrivers) {
    MakeModel ours = ParseMakeModel(d.deviceId);
    if (strcasecmp(printer.make.c_str(), ours.make.c_str()) == 0 &&
        strcasecmp(printer.model.c_str(), ours.model.c_str()) == 0) {
      return &d;
    }
  }
  return nullptr;
}

const PsPaper* FindPsPaper(const PsDriver& driver, const std::string& pwgName) {
  for (const PsPaper& p : driver.papers) {
    if (pwgName == p.pwgName) return &p;
  }
  return nullptr;
}

}  // namespace lumora::app
