#include "server/content_type.h"

#include <string>

#include "base/ascii.h"

std::string_view ContentTypeFor(std::string_view path) {
  struct Type {
    std::string_view extension;
    std::string_view type;
  };
  static constexpr Type kTypes[] = {
      {".html", "text/html"},       {".htm", "text/html"},        {".htx", "text/html"},
      {".js", "application/javascript"}, {".css", "text/css"},  {".txt", "text/plain"},
      {".json", "application/json"}, {".xml", "text/xml"},       {".png", "image/png"},
      {".jpg", "image/jpeg"},       {".jpeg", "image/jpeg"},      {".gif", "image/gif"},
      {".svg", "image/svg+xml"},    {".ico", "image/x-icon"},     {".bmp", "image/bmp"},
  };
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
    std::string_view extension = path.substr(dot);
    for (const Type& type : kTypes) {
      if (EqualsIgnoreCase(extension, type.extension)) return type.type;
    }
  }
  return "application/octet-stream";
}
