#include "json/node_heap.h"

#include <new>
#include <thread>

namespace velmora::json {
namespace {

// Each thread's address of this variable tells the threads apart for the recursive lock.
const void* ThreadToken() noexcept {
  thread_local char token = 0;
  return &token;
}

std::size_t RoundUp(std::size_t bytes, std::size_t granule) noexcept {
  return (bytes + granule - 1) / granule * granule;
}

}  // namespace

NodeHeap* NodeHeap::Create(std::pmr::memory_resource* upstream) noexcept {
  try {
    void* memory = upstream->allocate(sizeof(NodeHeap), alignof(NodeHeap));
    return new (memory) NodeHeap(upstream);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

NodeHeap::~NodeHeap() {
  for (Chunk* chunk = chunks_; chunk != nullptr;) {
    Chunk* next = chunk->next;
    upstream_->deallocate(chunk, chunk->size, alignof(std::max_align_t));
    chunk = next;
  }
}

void NodeHeap::Lock() noexcept {
  const void* me = ThreadToken();
  // Only this thread ever stores its own token, so a relaxed read cannot see it falsely.
  if (owner_.load(std::memory_order_relaxed) == me) {
    ++depth_;
    return;
  }
  for (unsigned spins = 0;; ++spins) {
    const void* expected = nullptr;
    if (owner_.compare_exchange_weak(expected, me, std::memory_order_acquire, std::memory_order_relaxed)) break;
    // Another thread releases nodes of this heap (rare): give it the processor.
    if (spins >= 64) std::this_thread::yield();
  }
  depth_ = 1;
}

void NodeHeap::Unlock() noexcept {
  if (--depth_ > 0) return;
  // No block left means no node can lead another thread here: the heap can go.
  const bool dead = live_ == 0;
  owner_.store(nullptr, std::memory_order_release);
  if (dead) {
    std::pmr::memory_resource* upstream = upstream_;
    this->~NodeHeap();
    upstream->deallocate(this, sizeof(NodeHeap), alignof(NodeHeap));
  }
}

void NodeHeap::Pin() noexcept {
  Lease lease(this);
  ++live_;
}

void NodeHeap::Unpin() noexcept {
  Lease lease(this);
  --live_;
}

void* NodeHeap::Allocate(std::size_t bytes) noexcept {
  Lease lease(this);
  return AllocateLocked(bytes);
}

void NodeHeap::Deallocate(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  Lease lease(this);
  DeallocateLocked(block, bytes);
}

void* NodeHeap::AllocateLocked(std::size_t bytes) noexcept {
  if (bytes == 0) bytes = kGranule;
  if (bytes > kLargestPooled) {
    try {
      void* block = upstream_->allocate(bytes, kGranule);
      ++live_;
      return block;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  const std::size_t size = RoundUp(bytes, kGranule);
  FreeBlock*& head = free_[size / kGranule - 1];
  if (head != nullptr) {
    FreeBlock* block = head;
    head = block->next;
    ++live_;
    return block;
  }
  if (static_cast<std::size_t>(end_ - cursor_) < size) return RefillAndCut(size);
  void* block = cursor_;
  cursor_ += size;
  ++live_;
  return block;
}

void* NodeHeap::RefillAndCut(std::size_t size) noexcept {
  // The rest of the old chunk goes to the free list of its size, so it is not lost.
  const std::size_t rest = static_cast<std::size_t>(end_ - cursor_);
  if (rest >= kGranule) {
    auto* block = reinterpret_cast<FreeBlock*>(cursor_);
    FreeBlock*& head = free_[rest / kGranule - 1];
    block->next = head;
    head = block;
  }
  const std::size_t chunkSize = nextChunk_;
  void* memory = nullptr;
  try {
    memory = upstream_->allocate(chunkSize, alignof(std::max_align_t));
  } catch (const std::bad_alloc&) {
    cursor_ = end_ = nullptr;
    return nullptr;
  }
  if (nextChunk_ < kLargestChunk) nextChunk_ *= 2;
  reserved_ += chunkSize;
  auto* chunk = static_cast<Chunk*>(memory);
  chunk->next = chunks_;
  chunk->size = chunkSize;
  chunks_ = chunk;
  cursor_ = static_cast<char*>(memory) + RoundUp(sizeof(Chunk), kGranule);
  end_ = static_cast<char*>(memory) + chunkSize;
  void* block = cursor_;
  cursor_ += size;
  ++live_;
  return block;
}

void NodeHeap::DeallocateLocked(void* block, std::size_t bytes) noexcept {
  if (bytes == 0) bytes = kGranule;
  --live_;
  if (bytes > kLargestPooled) {
    upstream_->deallocate(block, bytes, kGranule);
    return;
  }
  FreeBlock*& head = free_[RoundUp(bytes, kGranule) / kGranule - 1];
  auto* freed = static_cast<FreeBlock*>(block);
  freed->next = head;
  head = freed;
}

void* NodeHeap::do_allocate(std::size_t bytes, std::size_t alignment) {
  void* block = nullptr;
  if (alignment <= kGranule) {
    block = Allocate(bytes);
  } else {
    Lease lease(this);
    block = upstream_->allocate(bytes, alignment);
    ++live_;
  }
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void NodeHeap::do_deallocate(void* block, std::size_t bytes, std::size_t alignment) {
  if (alignment <= kGranule) {
    Deallocate(block, bytes);
    return;
  }
  Lease lease(this);
  upstream_->deallocate(block, bytes, alignment);
  --live_;
}

}  // namespace velmora::json
