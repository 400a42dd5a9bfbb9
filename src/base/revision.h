// Version texts come from revision keywords such as "$Revision: 1.21 $":
// the text after the first ':' without blanks and '$' ("1.21").
#pragma once

#include <string>
#include <string_view>

std::string RevisionNumber(std::string_view keyword);
