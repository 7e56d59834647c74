#include "tools/pack/progress.h"

namespace pack {

Progress::Progress(std::FILE* out, uint64_t totalBytes, size_t totalFiles)
    : out_(out),
      totalBytes_(totalBytes),
      totalFiles_(totalFiles),
      start_(std::chrono::steady_clock::now()),
      lastPrint_(start_) {}

std::string Progress::FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB"};
  double value = double(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 3) value /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Progress::Format(uint64_t bytes, uint64_t totalBytes, size_t files, size_t totalFiles,
                             double seconds) {
  std::string line = FormatBytes(bytes) + " of " + FormatBytes(totalBytes) + ", " +
                     std::to_string(files) + " of " + std::to_string(totalFiles) + " files";
  if (seconds > 0) line += ", " + FormatBytes(uint64_t(double(bytes) / seconds)) + "/s";
  return line;
}

std::string Progress::Cover(std::string line, size_t& shown) {
  size_t length = line.size();
  if (length < shown) line.append(shown - length, ' ');
  shown = length;
  return line;
}

void Progress::AddBytes(uint64_t bytes) {
  bytes_ += bytes;
  Print(false);
}

void Progress::FileDone() {
  ++files_;
  Print(false);
}

void Progress::Print(bool force) {
  if (!out_) return;
  auto now = std::chrono::steady_clock::now();
  // A few refreshes a second are enough and keep the terminal cheap.
  if (!force && now - lastPrint_ < std::chrono::milliseconds(200)) return;
  lastPrint_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = Cover(Format(bytes_, totalBytes_, files_, totalFiles_, seconds), shown_);
  std::fprintf(out_, "\r%s", line.c_str());
  std::fflush(out_);
  printed_ = true;
}

void Progress::Finish() {
  if (!out_) return;
  Print(true);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace pack
