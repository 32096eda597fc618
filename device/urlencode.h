// Percent-encoding of a text for a query string.
#pragma once

// Encodes `src` into `out` (at most `size` - 1 characters, always
// terminated): letters, digits and "-_.~" as they are, space as "+", any
// other byte as "%XX". An escape that would not fit ends the output there.
void urlencode(const char* src, char* out, int size);
