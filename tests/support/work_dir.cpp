#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

ScopedWorkDir::ScopedWorkDir() : previous_(fs::current_path()) {
  std::random_device random;
  for (;;) {
    path_ = fs::temp_directory_path() / ("qvtest-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
  }
  fs::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
  fs::current_path(previous_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}
