#pragma once
// Locating and loading test vectors. A vector directory comes from an environment variable, or
// defaults to a path next to the source tree; tests skip when it is absent.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "base/bytes.h"

namespace zerv::testing {

// The directory named by env_var, or <source>/<default_relative>.
inline std::filesystem::path vector_dir(const char* env_var, const char* default_relative) {
  if (const char* v = std::getenv(env_var); v != nullptr && *v != '\0') return v;
  return std::filesystem::path(ZERV_SOURCE_DIR) / default_relative;
}

inline nlohmann::json load_json(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream ss;
  ss << in.rdbuf();
  return nlohmann::json::parse(ss.str());
}

inline Bytes hex(const nlohmann::json& j) {
  Bytes out;
  if (!from_hex(j.get<std::string>(), out)) throw std::runtime_error("bad hex in vector");
  return out;
}

}  // namespace zerv::testing
