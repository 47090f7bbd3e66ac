#include "forward/byte_queue.h"

#include <cstring>
#include <new>

ByteQueue::ByteQueue(std::size_t capacity)
    : bytes_(new (std::nothrow) unsigned char[capacity]), capacity_(bytes_ ? capacity : 0) {}

ByteQueue::~ByteQueue() { delete[] bytes_; }

std::size_t ByteQueue::push(const unsigned char* bytes, std::size_t count) {
  if (count > room()) count = room();
  std::size_t done = 0;
  while (done < count) {
    const std::size_t tail = (head_ + size_) % capacity_;
    std::size_t piece = capacity_ - tail;
    if (piece > count - done) piece = count - done;
    std::memcpy(bytes_ + tail, bytes + done, piece);
    size_ += piece;
    done += piece;
  }
  return count;
}

std::size_t ByteQueue::push_dropping_oldest(const unsigned char* bytes, std::size_t count) {
  std::size_t dropped = 0;
  if (count > capacity_) {
    dropped = count - capacity_;
    bytes += dropped;
    count = capacity_;
  }
  if (count > room()) {
    dropped += count - room();
    drop(count - room());
  }
  push(bytes, count);
  return dropped;
}

const unsigned char* ByteQueue::front(std::size_t* count) const {
  const std::size_t piece = capacity_ - head_;
  *count = size_ < piece ? size_ : piece;
  return bytes_ + head_;
}

void ByteQueue::drop(std::size_t count) {
  if (count > size_) count = size_;
  head_ = capacity_ ? (head_ + count) % capacity_ : 0;
  size_ -= count;
}

unsigned char* ByteQueue::free_piece(std::size_t* count) {
  if (capacity_ == 0) {
    *count = 0;
    return bytes_;
  }
  const std::size_t tail = (head_ + size_) % capacity_;
  const std::size_t piece = capacity_ - tail;
  *count = room() < piece ? room() : piece;
  return bytes_ + tail;
}

void ByteQueue::commit(std::size_t count) { size_ += count < room() ? count : room(); }
