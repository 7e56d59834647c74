// SharedPtr: a reference-counted pointer whose 4-byte counter comes from a process-wide
// pool (see counter_pool.h) instead of the heap one by one. Copies and releases change
// the count atomically, so any thread may copy and release; the pool has its own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

#include "utils/counter_pool.h"

namespace utils {

template <class T>
class SharedPtr {
 public:
  SharedPtr() = default;
  // Takes ownership of object. A null object takes no counter. Throws std::bad_alloc
  // (and deletes object) when the pool has no counter to give.
  explicit SharedPtr(T* object) {
    if (!object) return;
    uint32_t* counter = static_cast<uint32_t*>(CounterPool::AllocateCounter());
    if (!counter) {
      delete object;
      throw std::bad_alloc();
    }
    *counter = 1;
    object_ = object;
    counter_ = counter;
  }
  SharedPtr(const SharedPtr& other) : object_(other.object_), counter_(other.counter_) { AddRef(); }
  template <class U>
  SharedPtr(const SharedPtr<U>& other) : object_(other.object_), counter_(other.counter_) {
    AddRef();
  }
  SharedPtr(SharedPtr&& other) noexcept : object_(other.object_), counter_(other.counter_) {
    other.object_ = nullptr;
    other.counter_ = nullptr;
  }
  ~SharedPtr() { Reset(); }

  SharedPtr& operator=(const SharedPtr& other) {
    if (this == &other) return *this;
    Reset();
    object_ = other.object_;
    counter_ = other.counter_;
    AddRef();
    return *this;
  }
  SharedPtr& operator=(SharedPtr&& other) noexcept {
    if (this == &other) return *this;
    Reset();
    std::swap(object_, other.object_);
    std::swap(counter_, other.counter_);
    return *this;
  }

  // Drops this reference; the last one destroys the object and returns the counter.
  void Reset() {
    if (object_) {
      if (std::atomic_ref<uint32_t>(*counter_).fetch_sub(1) == 1) {
        delete object_;
        CounterPool::FreeCounter(counter_);
      }
    }
    object_ = nullptr;
    counter_ = nullptr;
  }

  T* operator->() const {
    if (!object_) throw std::domain_error("operator->() called on nullptr");
    return object_;
  }
  T& operator*() const {
    if (!object_) throw std::domain_error("operator*() called on nullptr");
    return *object_;
  }
  T* Get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // The current reference count (0 for an empty pointer); for tests and diagnostics.
  uint32_t UseCount() const { return counter_ ? std::atomic_ref<uint32_t>(*counter_).load() : 0; }

 private:
  template <class U>
  friend class SharedPtr;

  void AddRef() {
    if (object_) std::atomic_ref<uint32_t>(*counter_).fetch_add(1);
  }

  T* object_ = nullptr;
  uint32_t* counter_ = nullptr;
};

}  // namespace utils
