#include "testing/clients_fixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/test_client.h"
#include "utils/encoding.h"

namespace storage::clients {

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ::e2e::WriteFile(path, data);
}

bool HaveCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Shell(const std::string& command, int* exitCode) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  while (size_t got = pipe ? fread(buffer, 1, sizeof(buffer), pipe) : 0) out.append(buffer, got);
  const int status = pipe ? pclose(pipe) : -1;
  if (exitCode) *exitCode = pipe && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ScriptText(size_t size) {
  std::string out;
  for (unsigned i = 0; out.size() < size; ++i) {
    out += "function step" + std::to_string(i) + "(state) { return state.value * " +
           std::to_string(i % 97) + " + '" + std::to_string(i * 2654435761u) + "'; }\n";
  }
  out.resize(size);
  return out;
}

std::string Reply::Value(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return "<absent>";
}

Reply ParseHead(const std::string& text) {
  Reply reply;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':'), space = line.find(' ');
    if (line.rfind("HTTP/", 0) == 0 && space != std::string::npos) {
      reply = Reply();  // a later header block (redirect, 100-continue) counts
      reply.status = std::atoi(line.c_str() + space + 1);
      const size_t second = line.find(' ', space + 1);
      if (second != std::string::npos) reply.reason = line.substr(second + 1);
    } else if (colon != std::string::npos) {
      const size_t start = line.find_first_not_of(' ', colon + 1);
      reply.headers.emplace_back(line.substr(0, colon),
                                 start == std::string::npos ? "" : line.substr(start));
    }
  }
  return reply;
}

ServedContent::ServedContent(const std::map<std::string, std::string>& entries)
    : ServedContent(entries, std::optional<FromFile>()) {}

ServedContent::ServedContent(const std::map<std::string, std::string>& entries,
                             const FromFile& file)
    : ServedContent(entries, std::optional<FromFile>(file)) {}

ServedContent::ServedContent(const std::map<std::string, std::string>& entries,
                             const std::optional<FromFile>& file)
    : entries_(entries) {
  dir_ = MakeTempDir();
  std::string content = dir_ + "/content";
  for (const auto& [name, data] : entries_) WriteFile(content + "/" + name, data);
  // Fixed dates, so Last-Modified and the entity tag are known; -X keeps extra fields
  // out; -n stores media the way packers do.
  Shell("find " + Quote(content) + " -exec touch -d '2023-06-14 09:41:26' {} +");
  int code = 0;
  const std::string zipPath = dir_ + "/content.zip";
  std::string out = Shell("cd " + Quote(content) + " && zip -q -X -r -n .bin:.webm " +
                              Quote(zipPath) + " . 2>&1",
                          &code);
  if (code != 0) {
    ADD_FAILURE() << "Info-ZIP's zip: " << out;
    return;
  }
  zipBytes_ = ReadFile(zipPath);
  archive_ = utils::SharedPtr<amzip::Archive>(new amzip::Archive());
  if (file) {
    if (!file->corruptEntry.empty()) {
      const std::string& data = entries_.at(file->corruptEntry);
      const size_t at = zipBytes_.find(data.substr(0, 256));
      if (data.size() < 256 || at == std::string::npos) {
        ADD_FAILURE() << file->corruptEntry << ": not found stored in the archive";
        return;
      }
      zipBytes_[at + data.size() / 2] ^= 0x20;
      WriteFile(zipPath, zipBytes_);
    }
    zipBytes_.clear();
    if (archive_->OpenSource(amzip::SourcePtr(amzip::FileReader::Open(utils::Utf8ToWide(zipPath), false)),
                             u"content.zip") != 0) {
      ADD_FAILURE() << "the archive made by zip does not open from its file";
      return;
    }
  } else if (archive_->OpenMemory(zipBytes_.data(), zipBytes_.size(), u"content.zip") != 0) {
    ADD_FAILURE() << "the archive made by zip does not open";
    return;
  }
  provider_ = std::make_unique<HttpZipProvider>(archive_);
  server_ = std::make_unique<HttpServer>(false);
  server_->SetRunPrefix(prefix_);
  if (file && file->turnBytes) server_->options.limits.turnBytes = file->turnBytes;
  port_ = test::PortOf(server_->Start(-1, u""));
  server_->SetProvider(provider_.get());
  ok_ = port_ != 0;
}

ServedContent::~ServedContent() {
  if (server_) server_->Stop();
  server_.reset();
  provider_.reset();
  if (archive_) archive_->Close();
  RemoveTree(dir_);
}

std::string ServedContent::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + prefix_ + name;
}

}  // namespace storage::clients
