// SPDX-License-Identifier: GPL-2.0-or-later
// The printer application's texts in every language it serves: its vendor
// options and their values, the paper sizes and sources, its messages and
// the catalog of PAPPL's web pages, generated from printer_app/strings/ and
// ppd/strings.tsv (tools/gen_app_strings.py).
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora::app {

// One language's strings file ("key" = "text"; lines).
struct AppStringsFile {
  const char* language;  // IPP language tag, e.g. "zh-cn"
  const char* data;
};

extern const AppStringsFile kAppStrings[];
extern const int kAppStringsCount;

// The footer of the web pages, a key of every strings file (whose texts
// carry the fixes of printer_app/strings/fixed.tsv).
constexpr const char* kFooterHtml = "Lumora printer application";

// Registers every language with PAPPL, so that its web pages speak the
// language a browser asks for, and serves each file at StringsPath().
// PAPPL 1.3.1 is not told the files' languages: for every Get-Printer-
// Attributes it would add one more printer-strings-languages-supported to
// the printer's attributes (duplicates in every later response, and a write
// to attributes other threads are reading); the driver publishes the
// strings itself (AddStringsAttributes).
void AddAppStrings(pappl_system_t* system);

// "/lumora-zh-cn.strings" for "zh-cn".
std::string StringsPath(const std::string& language);

// The served language closest to the server's own (its LANG): "zh-cn"
// for zh_CN.UTF-8, "en" when none is closer.
std::string ServerLanguage();

// printer-strings-languages-supported and printer-strings-uri (the file of
// the server's language) for a printer's attributes.
void AddStringsAttributes(pappl_system_t* system, ipp_t* attrs);

// The text in the server's language, or the text itself.
std::string ServerText(pappl_system_t* system, const std::string& text);

}  // namespace lumora::app
