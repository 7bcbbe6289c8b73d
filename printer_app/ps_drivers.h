// SPDX-License-Identifier: GPL-2.0-or-later
// The printer application's PostScript drivers: one per PostScript model,
// generated from ppd/models.tsv by tools/gen_app_ps_drivers.py. Each carries
// its model's whole PPD text, which the job's conversion filters and its
// PostScript job read as a CUPS queue's filters read the queue's PPD.
#pragma once

#include <string>

namespace lumora::app {

enum class PsFamily { kMaple, kLarch, kPlain };

constexpr int kPsPaperCount = 23;

// One paper of the model's PPD.
struct PsPaper {
  const char* ppdName;  // PageSize choice ("A4")
  const char* pwgName;  // PWG self-describing name
  int width, height;    // points
};

struct PsDriver {
  const char* name;           // "lumora_mp2100"
  const char* description;    // "Lumora MP2100"
  const char* deviceId;       // the PPD's *1284DeviceID
  const char* modelName;      // *ModelName ("Lumora MP2100 Series PS")
  const char* shortNickName;  // *ShortNickName
  PsFamily family;
  const char* ppdFileName;    // "Lumora-MP2100-Series-PS.ppd"
  const char* defaultMedia;   // PWG name of *DefaultPageSize
  const char* customMin;      // PWG names of the smallest and largest custom size
  const char* customMax;
  float margin;               // points: the widest unprintable edge of any paper
  PsPaper papers[kPsPaperCount];
  const char* ppd;            // the PPD text
};

extern const PsDriver kPsDrivers[];
extern const int kPsDriverCount;

// The driver of that name, or nullptr.
const PsDriver* FindPsDriver(const std::string& name);
// The driver whose printer reports this IEEE-1284 device id (its maker and
// model), or nullptr.
const PsDriver* MatchPsDriver(const std::string& deviceId);
// The paper of that PWG name, or nullptr.
const PsPaper* FindPsPaper(const PsDriver& driver, const std::string& pwgName);

}  // namespace lumora::app
