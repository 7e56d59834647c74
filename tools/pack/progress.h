// pack::Progress: one self-refreshing status line (bytes and files done, rate) for long
// packs, written to a terminal. Silent when given no stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pack {

class Progress {
 public:
  // out: the terminal's stream, or null for none.
  Progress(std::FILE* out, uint64_t totalBytes, size_t totalFiles);
  void AddBytes(uint64_t bytes);
  void FileDone();
  // Prints the final line and ends it with a line feed.
  void Finish();

  // "12.0 MiB of 40.0 MiB, 3 of 10 files, 5.0 MiB/s" (pure, for tests).
  static std::string Format(uint64_t bytes, uint64_t totalBytes, size_t files, size_t totalFiles,
                            double seconds);
  static std::string FormatBytes(uint64_t bytes);
  // line padded with spaces over the tail of the last one shown (shown: its length, then
  // line's). Spaces rather than a clearing escape: a Windows console shows escapes as
  // text unless told otherwise, while every terminal takes "\r".
  static std::string Cover(std::string line, size_t& shown);

 private:
  void Print(bool force);

  std::FILE* out_;
  uint64_t totalBytes_, bytes_ = 0;
  size_t totalFiles_, files_ = 0;
  std::chrono::steady_clock::time_point start_, lastPrint_;
  bool printed_ = false;
  size_t shown_ = 0;  // length of the line on screen
};

}  // namespace pack
