// NodeHeap: the memory resource that one JSON tree lives in.
//
// Every node, text and container of a tree comes from the heap of the node that owns it, and a
// node made without an owner starts a heap of its own, so a tree lives in one NodeHeap as a whole.
// The heap is a pool over an upstream std::pmr::memory_resource (the process default, unless the
// caller names another): small blocks are cut from chunks that grow from 2 KiB to 32 KiB and are
// recycled through free lists sorted by size (8-byte steps up to 512 bytes); larger blocks go
// straight to the upstream resource. Nothing is returned upstream until the heap dies. (Chunks
// stay below 64 KiB because glibc's free() of a block that large gives the top of the process
// heap back to the system, so that every new tree of a few megabytes faulted all its pages in
// again: a third of the time of parsing a 2 MB document.)
//
// Lifetime: the heap counts the blocks it has handed out and frees itself (with all its chunks)
// when that count falls to zero. A new heap starts with one pin that stands for its creator;
// Unpin() drops it, normally right after the creator has allocated its first block. The node
// routines also count the holders of the heap's nodes (references that no container holds): when
// the last holder lets go of a root, nothing else can reach the heap and Teardown() returns all
// its memory at once, without visiting the nodes.
//
// Threads: nodes of one heap may be released on different threads (documents share nodes and
// reference counts are atomic), so every call takes the heap's lock. The lock is recursive and
// cheap when held: a Lease holds it for a series of calls (a parse, the release of a tree) so that
// each allocation costs a few instructions. Never hold leases on two heaps at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory_resource>

namespace velmora::json {

class NodeHeap final : public std::pmr::memory_resource {
 public:
  // A new heap with one pin, drawing from `upstream` (never null). Null when memory ran out.
  static NodeHeap* Create(std::pmr::memory_resource* upstream = std::pmr::get_default_resource()) noexcept;

  NodeHeap(const NodeHeap&) = delete;
  NodeHeap& operator=(const NodeHeap&) = delete;

  // A block of at least `bytes` bytes aligned to 8, not zero-filled; null when memory ran out.
  void* Allocate(std::size_t bytes) noexcept {
    if (HeldHere()) return AllocateLocked(bytes);
    Lease lease(this);
    return AllocateLocked(bytes);
  }
  // Returns a block of this heap; `bytes` is the size it was allocated with.
  void Deallocate(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (HeldHere()) return DeallocateLocked(block, bytes);
    Lease lease(this);
    DeallocateLocked(block, bytes);
  }

  // Changes the count of holders; returns the new count.
  std::int64_t AddHolders(std::int64_t delta) noexcept {
    Lease lease(this);
    return holders_ += delta;
  }
  // Frees every block and the heap itself, when the outermost lease (or this call) ends. Only
  // for a heap none of whose blocks will be used again.
  void Teardown() noexcept {
    Lease lease(this);
    tornDown_ = true;
  }

  // Keeps the heap alive without a block (the creator's pin). Unpin may free the heap.
  void Pin() noexcept;
  void Unpin() noexcept;

  // Blocks handed out and not yet returned (pins included); bytes taken from upstream.
  std::int64_t LiveBlocks() const noexcept { return live_; }
  std::size_t ReservedBytes() const noexcept { return reserved_; }

  // Holds the heap's lock (never null) from construction to destruction (recursive). A heap whose last block
  // was returned under the lease is freed when the outermost lease ends.
  class Lease {
   public:
    explicit Lease(NodeHeap* heap) noexcept : heap_(heap) {
      if (heap_->HeldHere()) {
        ++heap_->depth_;
      } else {
        heap_->LockSlow();
      }
    }
    ~Lease() {
      if (heap_->depth_ > 1) {
        --heap_->depth_;
      } else {
        heap_->Unlock();
      }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

   private:
    NodeHeap* heap_;
  };

 protected:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

 private:
  static constexpr std::size_t kGranule = 8;
  static constexpr std::size_t kLargestPooled = 512;
  static constexpr std::size_t kClassCount = kLargestPooled / kGranule;
  static constexpr std::size_t kFirstChunk = 2048;
  static constexpr std::size_t kLargestChunk = std::size_t{1} << 15;
  static constexpr std::size_t kUpstreamAlignment = 16;

  struct FreeBlock {
    FreeBlock* next;
  };
  struct Chunk {
    Chunk* next;
    std::size_t size;  // bytes including this header
  };
  // Blocks above kLargestPooled come from upstream one by one, linked so Teardown finds them.
  struct LargeBlock {
    LargeBlock* previous;
    LargeBlock* next;
  };

  // Each thread's address of this variable tells the threads apart for the recursive lock.
  static const void* ThreadToken() noexcept {
    static thread_local char token = 0;
    return &token;
  }
  // Only this thread ever stores its own token, so a relaxed read cannot see it falsely.
  bool HeldHere() const noexcept { return owner_.load(std::memory_order_relaxed) == ThreadToken(); }

  explicit NodeHeap(std::pmr::memory_resource* upstream) noexcept : upstream_(upstream) {}
  ~NodeHeap() override;

  void LockSlow() noexcept;
  void Unlock() noexcept;
  void Free() noexcept;
  void* AllocateLocked(std::size_t bytes) noexcept {
    if (bytes > kLargestPooled) return AllocateLarge(bytes);
    const std::size_t size = bytes == 0 ? kGranule : (bytes + kGranule - 1) & ~(kGranule - 1);
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
  void DeallocateLocked(void* block, std::size_t bytes) noexcept {
    if (bytes > kLargestPooled) return DeallocateLarge(block, bytes);
    --live_;
    const std::size_t size = bytes == 0 ? kGranule : (bytes + kGranule - 1) & ~(kGranule - 1);
    FreeBlock*& head = free_[size / kGranule - 1];
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = head;
    head = freed;
  }
  void* RefillAndCut(std::size_t size) noexcept;
  void* AllocateLarge(std::size_t bytes) noexcept;
  void DeallocateLarge(void* block, std::size_t bytes) noexcept;

  std::pmr::memory_resource* upstream_;
  std::atomic<const void*> owner_{nullptr};  // token of the thread holding the lock
  int depth_ = 0;                            // lock depth of that thread
  std::int64_t live_ = 1;                    // blocks handed out, plus pins
  std::int64_t holders_ = 0;                 // see AddHolders
  bool tornDown_ = false;
  LargeBlock* large_ = nullptr;
  char* cursor_ = nullptr;                   // free space of the newest chunk
  char* end_ = nullptr;
  Chunk* chunks_ = nullptr;
  std::size_t nextChunk_ = kFirstChunk;
  std::size_t reserved_ = 0;
  FreeBlock* free_[kClassCount] = {};
};

}  // namespace velmora::json
