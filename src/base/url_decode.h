// Decoding of URL-encoded query text, for the module base (its URLDecode)
// and for outbound requests that take a file name from a query.
#pragma once

// A new text (free it with delete[]) with '+' as a blank and every "%XY"
// decoded; with keep_separators, "%26" and "%3D" stay encoded. Null for null.
char* URLDecode(const char* text, bool keep_separators);
