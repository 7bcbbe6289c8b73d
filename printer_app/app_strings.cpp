// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_strings.h"

#include <cups/language.h>

#include <cctype>

namespace lumora_app {

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

}  // namespace lumora_app
