// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_strings.h"

#include <cups/language.h>
#include <string.h>
#include <strings.h>

#include <pthread.h>

#include <cctype>
#include <string>
#include <vector>

namespace lumora::app {

namespace {

#if LUMORA_PAPPL_PRIVATE
// PAPPL 1.3.1's localization of one language (loc-private.h): its texts
// are looked up by key and the first text loaded for a key wins.
struct PapplLocPair {
  char* key;
  char* text;
};
struct PapplLoc {
  pthread_rwlock_t rwlock;
  pappl_system_t* system;
  char* name;
  cups_array_t* pairs;
};

// The keys of a strings file of ours: "key" = "text"; one a line.
std::vector<std::string> Keys(const char* data) {
  std::vector<std::string> keys;
  for (const char* line = data; line && *line;) {
    const char* end = strchr(line, '\n');
    std::string text(line, end ? static_cast<size_t>(end - line) : strlen(line));
    std::string key;
    for (size_t i = 1; text.size() > 1 && text[0] == '"' && i < text.size() && text[i] != '"'; i++) {
      if (text[i] == '\\' && i + 1 < text.size()) i++;
      key += text[i];
    }
    if (!key.empty()) keys.push_back(key);
    line = end ? end + 1 : nullptr;
  }
  return keys;
}

// The driver's names win over PAPPL's own where PAPPL has a catalog of the
// language (English: PAPPL calls ISO B5 "B5 Envelope" and the manual-
// duplex wait "Load paper."): PAPPL's texts of our keys are dropped before
// ours are loaded. Called before the system runs (no other thread reads).
// The structure is PAPPL 1.3.x's: it is left alone unless it holds what it
// should (the system and the language asked for).
void DropPapplTexts(pappl_system_t* system, const char* language, const char* data) {
  auto* loc = reinterpret_cast<PapplLoc*>(papplSystemFindLoc(system, language));
  if (!loc || loc->system != system || !loc->name || strcasecmp(loc->name, language) != 0 ||
      !loc->pairs) {
    return;
  }
  for (const std::string& key : Keys(data)) {
    PapplLocPair search{const_cast<char*>(key.c_str()), nullptr};
    if (void* found = cupsArrayFind(loc->pairs, &search)) cupsArrayRemove(loc->pairs, found);
  }
}
#else
// Another PAPPL series: its texts of our keys stay.
void DropPapplTexts(pappl_system_t*, const char*, const char*) {}
#endif

}  // namespace

const AppStringsFile kAppStrings[] = {
#include "app_strings.inc"
};
const int kAppStringsCount = static_cast<int>(sizeof(kAppStrings) / sizeof(kAppStrings[0]));

std::string StringsPath(const std::string& language) {
  return "/lumora-" + language + ".strings";
}

void AddAppStrings(pappl_system_t* system) {
  for (const AppStringsFile& f : kAppStrings) {
    const std::string path = StringsPath(f.language);
    DropPapplTexts(system, f.language, f.data);
    // The localization stays with the system when the resource goes.
    papplSystemAddStringsData(system, path.c_str(), f.language, f.data);
    papplSystemRemoveResource(system, path.c_str());
    papplSystemAddResourceString(system, path.c_str(), "text/strings", f.data);
  }
}

std::string ServerLanguage() {
  cups_lang_t* lang = cupsLangDefault();
  std::string tag = lang ? lang->language : "en";
  for (char& c : tag) c = c == '_' ? '-' : static_cast<char>(tolower(c & 255));
  for (const std::string& want : {tag, tag.substr(0, 2)}) {
    for (const AppStringsFile& f : kAppStrings) {
      if (want == f.language) return want;
    }
  }
  return "en";
}

void AddStringsAttributes(pappl_system_t* system, ipp_t* attrs) {
  const std::string language = ServerLanguage();
  char host[256] = "localhost";
  papplSystemGetHostName(system, host, sizeof(host));
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof(uri),
                  papplSystemGetTLSOnly(system) ? "https" : "http", nullptr, host,
                  papplSystemGetHostPort(system), StringsPath(language).c_str());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "printer-strings-languages-supported",
               nullptr, language.c_str());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-strings-uri", nullptr, uri);
}

std::string ServerText(pappl_system_t* system, const std::string& text) {
  pappl_loc_t* loc = papplSystemFindLoc(system, ServerLanguage().c_str());
  return loc ? papplLocGetString(loc, text.c_str()) : text;
}

}  // namespace lumora::app
