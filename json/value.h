// JSON values over wide (UTF-16) text, and the writer that turns a tree back into text.
//
// Every value is a heap object of a class derived from json::Value, tagged with its type.
// Containers own their elements and destroy them with themselves; they are not copyable.
// Nothing here locks; a tree belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace json {

enum Tag : uint32_t {
  kNullTag = 0,
  kBoolTag = 1,
  kNumberTag = 2,
  kStringTag = 3,
  kArrayTag = 4,
  kDictTag = 5,
};

// The layout of one write run. Style 0 is indented (two blanks per level, CR LF, " : "),
// style 1 light (one blank, LF, ":"), style 2 compact (no blanks, no line breaks).
struct WriteFormat {
  explicit WriteFormat(int style);

  int32_t level = 0;
  uint32_t indentUnit;
  std::u16string newline;
  bool useTabs = false;
  int style;

  void Indent(std::u16string& out) const;
};

class Value {
 public:
  explicit Value(uint32_t tag) : tag(tag) {}
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  virtual ~Value() = default;
  virtual void Write(std::u16string& out, WriteFormat& format) const = 0;

  const uint32_t tag;
};

class Null : public Value {
 public:
  Null() : Value(kNullTag) {}
  void Write(std::u16string& out, WriteFormat& format) const override;
};

class Bool : public Value {
 public:
  explicit Bool(bool flag) : Value(kBoolTag), value(flag ? 1 : 0) {}
  void Write(std::u16string& out, WriteFormat& format) const override;

  uint8_t value;
};

class Number : public Value {
 public:
  explicit Number(int64_t integer) : Value(kNumberTag), isFloat(0), integer(integer) {}
  explicit Number(int integer) : Number(static_cast<int64_t>(integer)) {}
  explicit Number(double real) : Value(kNumberTag), isFloat(1), real(real) {}
  // Integers in decimal; doubles in fixed notation with six decimals ("%lf"). A double
  // that is not finite has no JSON text and is written as null.
  void Write(std::u16string& out, WriteFormat& format) const override;

  uint32_t isFloat;
  union {
    int64_t integer;
    double real;
  };
};

class String : public Value, public std::u16string {
 public:
  explicit String(std::u16string text = {}) : Value(kStringTag), std::u16string(std::move(text)) {}
  void Write(std::u16string& out, WriteFormat& format) const override;

  // The quoted, escaped form of text (also used for dictionary keys).
  static void WriteQuoted(std::u16string& out, const std::u16string& text);
};

class Array : public Value, public std::vector<Value*> {
 public:
  Array() : Value(kArrayTag) {}
  ~Array() override;
  // Takes ownership of value (not null).
  void Append(Value* value);
  void Write(std::u16string& out, WriteFormat& format) const override;
};

class Dict : public Value, public std::unordered_map<std::u16string, Value*> {
 public:
  Dict() : Value(kDictTag) {}
  ~Dict() override;
  // Takes ownership when the key is new; otherwise answers false and the caller keeps
  // value.
  bool Insert(const std::u16string& key, Value* value);
  // Takes ownership; a value already under key is destroyed.
  void Set(const std::u16string& key, Value* value);
  // The value under key, or null.
  Value* Find(const std::u16string& key) const;
  void Write(std::u16string& out, WriteFormat& format) const override;
};

}  // namespace json
