// Scratch files for the tests of this folder: a fresh directory per test, removed after.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace utils::testing {

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("cx_file_test_" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;  // a file still open on Windows must not fail the test
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path PathOf(const std::string& name) const { return dir_ / name; }
  std::u16string WidePath(const std::string& name) const { return PathOf(name).u16string(); }
  std::u16string WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
    return WidePath(name);
  }
  std::string ReadBytes(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Bytes whose value depends on the position, so a byte read from the wrong place shows.
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i + (i >> 8) * 31 + (i >> 16) * 17) & 0xFF);
    return bytes;
  }
  std::filesystem::path dir_;
};

}  // namespace utils::testing
