// SPDX-License-Identifier: GPL-2.0-or-later
// Percent-decoding of the printer URIs the scheduler reports, so that a
// queue name with escapes can be compared with the filter's own.
#pragma once

namespace lumora {

// Value of one hexadecimal digit; -1 for any other character.
int hex2dec(char c);

// Decodes %XX escapes of a NUL-terminated text in place ('+' stays '+').
// Any length is fine, and a '%' with fewer than two characters after it is
// kept as it is.
void urldecode(char* url);

}  // namespace lumora
