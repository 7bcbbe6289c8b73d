// SPDX-License-Identifier: GPL-2.0-or-later
#include "url_decode.h"

#include <cstring>

namespace lumora {

int hex2dec(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void urldecode(char* url) {
  if (!url) return;
  // The result is never longer than the input, so it is built in place.
  const size_t len = strlen(url);
  size_t out = 0;
  for (size_t i = 0; i < len; ++i) {
    if (url[i] == '%' && len - i >= 3) {
      // Digits are not checked: a non-hex character counts as -1.
      int value = hex2dec(url[i + 1]) * 16 + hex2dec(url[i + 2]);
      url[out++] = static_cast<char>(value & 0xff);
      i += 2;
    } else {
      url[out++] = url[i];
    }
  }
  url[out] = '\0';
}

}  // namespace lumora
