// A fixed-size ring of bytes waiting for a slow side: data for a client or a destination,
// data for the serial line. Its room is taken once, at creation; nothing grows later.
#pragma once

#include <cstddef>

class ByteQueue {
 public:
  explicit ByteQueue(std::size_t capacity);  // capacity() is 0 when no room could be had
  ~ByteQueue();
  ByteQueue(const ByteQueue&) = delete;
  ByteQueue& operator=(const ByteQueue&) = delete;

  std::size_t capacity() const { return capacity_; }
  std::size_t size() const { return size_; }
  std::size_t room() const { return capacity_ - size_; }
  bool empty() const { return size_ == 0; }
  // Appends what fits; the count appended.
  std::size_t push(const unsigned char* bytes, std::size_t count);
  // Appends all of it, dropping the oldest bytes to make room (the newest capacity() bytes
  // stay); the count dropped.
  std::size_t push_dropping_oldest(const unsigned char* bytes, std::size_t count);
  // The oldest bytes that lie in one piece, for a write; then drop() what was written.
  const unsigned char* front(std::size_t* count) const;
  void drop(std::size_t count);
  // The free room that lies in one piece after the newest byte, for a read straight into the
  // queue; then commit() what was read.
  unsigned char* free_piece(std::size_t* count);
  void commit(std::size_t count);
  void clear() { head_ = size_ = 0; }

 private:
  unsigned char* bytes_;
  std::size_t capacity_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};
