// Escaping for the values of broker page queries: ASCII letters, digits and
// '.' stay; every other byte becomes '%' and two upper-case hex digits.
#pragma once

#include <string>
#include <string_view>

std::string EscapeUrlValue(std::string_view text);
