// Headless Chromium for the tests that need a real browser (POSIX only): started on a
// URL with a fresh profile folder and the flags that keep it off the network, ended by
// the destructor.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace storage::test {

class HeadlessChromium {
 public:
  // profile: a folder the browser may fill (removed first and by the destructor).
  HeadlessChromium(const std::string& url, const std::string& profile,
                   const std::vector<std::string>& extraFlags = {});
  ~HeadlessChromium();
  HeadlessChromium(const HeadlessChromium&) = delete;
  HeadlessChromium& operator=(const HeadlessChromium&) = delete;

  bool Started() const { return pid_ != 0; }

 private:
  pid_t pid_ = 0;
  std::string profile_;
};

}  // namespace storage::test
