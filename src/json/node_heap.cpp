#include "json/node_heap.h"

#include <new>
#include <thread>

namespace velmora::json {

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

void NodeHeap::LockSlow() noexcept {
  const void* me = ThreadToken();
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
  // No block left (or no holder left) means no node can lead another thread here: the heap goes.
  const bool dead = live_ == 0 || tornDown_;
  owner_.store(nullptr, std::memory_order_release);
  if (dead) Free();
}

void NodeHeap::Free() noexcept {
  for (LargeBlock* block = large_; block != nullptr;) {
    LargeBlock* next = block->next;
    const std::size_t bytes = reinterpret_cast<std::size_t*>(block)[-1];
    upstream_->deallocate(reinterpret_cast<char*>(block) - sizeof(std::size_t), bytes, kUpstreamAlignment);
    block = next;
  }
  std::pmr::memory_resource* upstream = upstream_;
  this->~NodeHeap();
  upstream->deallocate(this, sizeof(NodeHeap), alignof(NodeHeap));
}

void NodeHeap::Pin() noexcept {
  Lease lease(this);
  ++live_;
}

void NodeHeap::Unpin() noexcept {
  Lease lease(this);
  --live_;
}

// A large block: [total size][previous][next] then the caller's bytes (8-aligned).
void* NodeHeap::AllocateLarge(std::size_t bytes) noexcept {
  const std::size_t total = bytes + sizeof(std::size_t) + sizeof(LargeBlock);
  char* memory = nullptr;
  try {
    memory = static_cast<char*>(upstream_->allocate(total, kUpstreamAlignment));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  *reinterpret_cast<std::size_t*>(memory) = total;
  auto* block = reinterpret_cast<LargeBlock*>(memory + sizeof(std::size_t));
  block->previous = nullptr;
  block->next = large_;
  if (large_ != nullptr) large_->previous = block;
  large_ = block;
  ++live_;
  return block + 1;
}

void NodeHeap::DeallocateLarge(void* payload, std::size_t) noexcept {
  auto* block = static_cast<LargeBlock*>(payload) - 1;
  if (block->previous != nullptr) {
    block->previous->next = block->next;
  } else {
    large_ = block->next;
  }
  if (block->next != nullptr) block->next->previous = block->previous;
  char* memory = reinterpret_cast<char*>(block) - sizeof(std::size_t);
  upstream_->deallocate(memory, *reinterpret_cast<std::size_t*>(memory), kUpstreamAlignment);
  --live_;
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
  cursor_ = static_cast<char*>(memory) + ((sizeof(Chunk) + kGranule - 1) & ~(kGranule - 1));
  end_ = static_cast<char*>(memory) + chunkSize;
  void* block = cursor_;
  cursor_ += size;
  ++live_;
  return block;
}

// As a std::pmr resource the heap serves alignments up to 8 bytes.
void* NodeHeap::do_allocate(std::size_t bytes, std::size_t alignment) {
  void* block = alignment <= kGranule ? Allocate(bytes) : nullptr;
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void NodeHeap::do_deallocate(void* block, std::size_t bytes, std::size_t) { Deallocate(block, bytes); }

}  // namespace velmora::json
