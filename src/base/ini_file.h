// INI text read and edited with the rules of the platform's private-profile
// functions: section and key names match without case, names (also those
// asked for) and values are trimmed of blanks, a value wrapped in matching quotes loses them, and lines
// that start with ';' are comments. Pure functions over the file's text, so
// the settings store decides where the text comes from and how it is stored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The value of key in the first section named section that has it.
std::optional<std::string_view> IniFind(std::string_view text, std::string_view section,
                                        std::string_view key);

// text with key set to value: the key's line is rewritten in place, or a line
// is added after the section's last key, or the section is appended. Every
// other line, comment and blank stays byte for byte. The caller checks the
// name and value first (IsStorableIniPair).
std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value);

// False for a pair that would not read back as written, or would plant
// another line: a line break anywhere, an empty key, a key with '=' or one
// that would read as a section or comment.
bool IsStorableIniPair(std::string_view key, std::string_view value);
