// utils::TextFile: a utils::File that reads and writes text in one of four encodings,
// with byte-order marks and Windows line ends.
//
// Encodings: 1 the ANSI code page, 2 UTF-8, 3 UTF-16 little-endian, 4 UTF-16 big-endian;
// for writing any other value is a code page number. Reading decodes one character at a
// time through the file's read cache (the file owns a CPPAllocator). With crlf on, a
// carriage return followed by a line feed reads as the line feed alone, and printf writes
// every bare line feed as CR LF. Read failures show in results; printf throws
// utils::Exception once its output would pass 32 MiB characters.
#pragma once

#include <cstdint>
#include <string>

#include "utils/file/file.h"

namespace utils {

class TextFile : public File {
 public:
  static constexpr uint32_t kAnsi = 1;
  static constexpr uint32_t kUtf8 = 2;
  static constexpr uint32_t kUtf16LE = 3;
  static constexpr uint32_t kUtf16BE = 4;

  TextFile(uint32_t encoding, bool hasBom);

  // Opens for reading and takes the encoding from the byte-order mark (defaultEncoding
  // without one); the position is then just past the mark.
  virtual bool OpenText(const std::u16string& path, uint32_t defaultEncoding);
  // Creates the file and writes the mark of the encoding when hasBom is set.
  virtual bool CreateText(const std::u16string& path);
  // Copies the next line as wcsncpy does; null when no line is left.
  virtual char16_t* ReadLine(char16_t* buffer, size_t capacity);
  // The next line with its line feed; false when no character is left.
  virtual bool ReadLine(std::u16string& line);
  virtual void WriteText(const std::u16string& text);
  virtual std::u16string ReadAll();
  virtual void printf(const char16_t* format, ...);

  bool HasBom() const { return hasBom_; }
  void SetHasBom(bool hasBom) { hasBom_ = hasBom; }
  uint32_t GetEncoding() const { return encoding_; }
  void SetEncoding(uint32_t encoding) { encoding_ = encoding; }
  bool GetCrLf() const { return crlf_; }
  void SetCrLf(bool crlf) { crlf_ = crlf; }

  // The text as the encoding writes it; shared by WriteText and printf.
  static std::string Encode(const std::u16string& text, uint32_t encoding);
  // Inserts a carriage return before every line feed that does not follow one.
  static std::u16string ToCrLf(const std::u16string& text);
  // printf's largest buffer: 256 characters doubled 17 times (one is the terminator).
  static constexpr size_t kMaxFormatChars = size_t{256} << 17;

 private:
  // One decoded character without line-end translation; bytes tells how many bytes it
  // took. False when no character can be had.
  bool ReadRawChar(char16_t& unit, uint32_t& bytes);
  bool ReadChar(char16_t& unit);

  bool hasBom_;
  uint32_t encoding_;
  bool crlf_ = true;
};

}  // namespace utils
