#pragma once
// Locating and loading test vectors. A vector directory comes from an environment variable, or
// defaults to a path next to the source tree; tests skip when it is absent.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Hex written with optional spaces between fields, for known answers typed into tests.
inline Bytes unhex(std::string_view s) {
  std::string digits;
  for (char c : s) {
    if (c != ' ') digits += c;
  }
  Bytes out;
  if (!from_hex(digits, out)) throw std::runtime_error("bad hex literal in test");
  return out;
}

inline std::filesystem::path mls_vector_file(const char* name) {
  return vector_dir("ZERV_MLS_VECTORS", "../shared/vectors/mls") / name;
}

// The cases of one cipher suite with their index in the file. Cases of other suites cannot be
// replayed by this engine: they are counted and named on standard output.
inline std::vector<std::pair<size_t, nlohmann::json>> suite_cases(const nlohmann::json& all,
                                                                  uint16_t suite) {
  std::vector<std::pair<size_t, nlohmann::json>> out;
  std::string others;
  for (size_t n = 0; n < all.size(); ++n) {
    if (all[n].at("cipher_suite").get<uint16_t>() == suite) {
      out.emplace_back(n, all[n]);
    } else {
      others += " " + std::to_string(n);
    }
  }
  if (!others.empty()) {
    std::cout << "[ SKIPPED  ] " << all.size() - out.size()
              << " case(s) of other cipher suites:" << others << "\n";
  }
  return out;
}

}  // namespace zerv::testing

// Loads the named file of the MLS vector directory into `var`, or skips the test when absent.
#define ZERV_LOAD_MLS_VECTORS(var, name)                                                   \
  const auto var##_file = ::zerv::testing::mls_vector_file(name);                          \
  if (!std::filesystem::exists(var##_file)) GTEST_SKIP() << "no MLS vectors at " << var##_file; \
  const nlohmann::json var = ::zerv::testing::load_json(var##_file)
