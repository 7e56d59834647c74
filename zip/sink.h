// Sinks the ZIP reader writes extracted entries into: amzip::WriteI (one entry),
// amzip::WriterCreatorI (the factory asked once per entry) and the in-memory pair
// amzip::MemWriter / amzip::MemCreator that the program uses.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace amzip {

// A Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, in two halves.
struct FileTime {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
};

class WriteI {
 public:
  virtual ~WriteI() = default;
  virtual bool IsOpen() = 0;
  virtual bool Write(const void* data, uint32_t size) = 0;
  virtual void Close() = 0;
  // The entry's modification time in UTC; sinks that keep no time ignore it.
  virtual void SetTime(const FileTime& time) {}
};

class WriterCreatorI {
 public:
  virtual ~WriterCreatorI() = default;
  // A new sink owned by the caller, or null.
  virtual WriteI* CreateWriter(const std::u16string& name, uint64_t size) = 0;
  // A non-zero error code stops the extraction of name.
  virtual int32_t CheckTarget(const std::u16string& name) = 0;
  virtual void Finish(const std::u16string& name, uint32_t externalAttributes) = 0;
  virtual int32_t MakeDirectory(const std::u16string& name, const FileTime* time) { return 0; }
};

// Appends to a byte string owned by its creator.
class MemWriter : public WriteI {
 public:
  explicit MemWriter(std::string* target) : target_(target) {}
  bool IsOpen() override { return true; }
  bool Write(const void* data, uint32_t size) override;
  void Close() override {}

 private:
  std::string* target_;
};

// Collects extracted entries in memory, by the sink name the reader was given. Made per
// extraction request on the caller's stack; not shared between threads.
class MemCreator : public WriterCreatorI {
 public:
  WriteI* CreateWriter(const std::u16string& name, uint64_t size) override;
  int32_t CheckTarget(const std::u16string& name) override { return 0; }
  void Finish(const std::u16string& name, uint32_t externalAttributes) override {}

  // The bytes written under name, or null when nothing was ever created under it.
  const std::string* Find(const std::u16string& name) const;
  std::map<std::u16string, std::string>& Entries() { return entries_; }

 private:
  std::map<std::u16string, std::string> entries_;
};

}  // namespace amzip
