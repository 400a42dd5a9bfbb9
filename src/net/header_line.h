// Picking one header line out of a proxy's or server's answer, as the
// outbound request and the proxy tunnel do for "Server" and "Via".
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text from the first occurrence of name followed by ':' (case
// matters; anywhere in text, not only at a line start) up to, not
// including, the next line feed or the end of text. A carriage return
// before the line feed stays. None when name and ':' do not occur.
std::optional<std::string> ExtractHeaderLine(std::string_view text, std::string_view name);
