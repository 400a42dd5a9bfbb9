// The Content-Type of a served file, from its extension.
#pragma once

#include <string_view>

std::string_view ContentTypeFor(std::string_view path);
