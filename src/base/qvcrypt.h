// Stand-ins for the two routines of the external crypto library.
//
// DecryptString reads what `openssl enc -aes-256-cbc -pbkdf2 -a -A -pass
// pass:PHRASE` writes (Base64 of "Salted__", the salt and the cipher text;
// PBKDF2 with SHA-256 and 10000 rounds), so a broker or an administrator can
// make a stored key with the standard tool.
#pragma once

#include <cstddef>

inline constexpr size_t kDecryptBufferSize = 4096;

// Writes the plain text, terminated, into output (kDecryptBufferSize bytes)
// and returns output; null when the text does not decrypt with the phrase or
// the plain text does not fit.
const char* DecryptString(const char* cipher_text, char* output, const char* pass_phrase);

// The SHA-256 of the file as 64 lower-case hex digits into dest. 0 on
// success; -1 when the file cannot be read or dest is too small (dest then
// holds the empty text).
int DigestFile(const char* path, char* dest, size_t size);
