// Proxy credentials: the "user:password" a user types into a local page
// when a proxy asks for them, kept in plain and Base64 form in the device's
// proxy block and sent as a Basic proxy authorization.
#pragma once

#include <cstddef>
#include <string_view>

#include "device/proxy_vars.h"

// Stores text (when not empty) as the plain credentials and its Base64 as
// the encoded ones. Credentials whose Base64 does not fit the 128-byte field
// with its terminator (more than 93 characters) are refused: both fields
// are emptied, so no stale or cut pair is sent, and Encode64's failure is
// logged.
void SubmitProxyCredentials(QvProxyVars& vars, std::string_view text);

// Base64 (RFC 2045 alphabet, '=' padding) of length bytes of input into
// output. The encoded length, 4 * ((length + 2) / 3), goes to
// *output_length when given. 0; or -2, logged and writing nothing, when
// output_size is below that length. The text is terminated only when
// output_size leaves room for it.
int Encode64(const void* input, size_t length, char* output, size_t output_size,
             size_t* output_length = nullptr);
