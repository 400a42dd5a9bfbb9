// Text from settings, peers and the network made safe to place in a page
// or in a JSON string. One place for both, so every page escapes alike.
#pragma once

#include <string>
#include <string_view>

// &, <, >, " and ' as entities: safe in element text and quoted attributes.
std::string HtmlEscape(std::string_view text);
// The inside of a JSON string: quote, backslash and control characters
// escaped; no quotes added.
std::string JsonEscape(std::string_view text);
