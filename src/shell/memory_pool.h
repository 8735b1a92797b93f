// The memory pool: every record the documents and renderers allocate comes
// from one pool of 32768-byte arenas under a program-wide byte limit, so that a
// large job fails in an orderly way instead of exhausting the machine. Beside
// it: a scratch arena released all at once, and a chunked array of fixed-size
// records. Freed pool memory is zero-filled, so reused blocks start cleared.
//
// Sizes: system blocks carry their size in a prefix and count their requested
// size in the running total; an arena is a system block of at least 32768
// bytes with a 24-byte header area; every pool block has an 8-byte header
// (32-bit size, 32-bit free-list link) and a size that is a multiple of 8.
//
// The out-of-memory escape is an exception: an operation that allocates
// heavily arms it with an EscapeScope and catches OutOfMemoryEscape at its
// boundary; its own state is untouched by the failed call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

namespace zentrope {

// Thrown by an allocation that fails while the escape is armed.
struct OutOfMemoryEscape : std::bad_alloc {
  const char* what() const noexcept override { return "out of memory"; }
};

inline constexpr std::int32_t kArenaSize = 32768;
inline constexpr std::int32_t kArenaHeader = 24;
inline constexpr std::int32_t kBlockHeader = 8;
inline constexpr std::int32_t kInitialMemoryLimit = 32768;

class MemoryPool {
 public:
  MemoryPool() = default;
  ~MemoryPool();
  MemoryPool(const MemoryPool&) = delete;
  MemoryPool& operator=(const MemoryPool&) = delete;

  // The main pool of the program.
  static MemoryPool& Main();

  // A zero-filled block of at least size bytes, or null when the limit or the
  // system refuses (the escape is thrown instead when armed).
  void* allocate(std::size_t size);
  // Returns a block; null is ignored; a pointer from no arena sets the
  // bad-release flag and touches nothing.
  void release(void* p);

  void set_limit(std::int64_t bytes);
  std::int64_t limit() const;
  // Bytes taken from the system by this pool and its companions.
  std::int64_t total_allocated() const;
  bool bad_release() const { return badRelease_; }
  // How many allocations the limit or the system refused, so that a command
  // whose reader turned running out into a plain failure can still say so.
  std::int64_t refused_allocations() const;
  std::size_t arena_count() const;

  // Raw system blocks, zero-filled and counted in the running total; used by
  // the pool's arenas, the scratch arena and record arrays.
  void* system_allocate(std::size_t size);
  void system_release(void* p);

  // Called before an allocation fails so that caches can let go; a retried
  // operation may then succeed. Returns a handle for removal.
  int add_out_of_memory_hook(std::function<void()> hook);
  void remove_out_of_memory_hook(int handle);

  // Depth of armed escapes (see EscapeScope).
  void arm_escape() { ++armed_; }
  void disarm_escape() {
    if (armed_ > 0) {
      --armed_;
    }
  }
  bool escape_armed() const { return armed_ > 0; }

 private:
  struct Arena {
    char* base = nullptr;       // the system block
    char* dataStart = nullptr;  // after the header area
    char* dataEnd = nullptr;
    std::int32_t freeHead = -1;  // offset of the first free block, descending addresses
    std::int32_t freeBytes = 0;
    std::int32_t capacity = 0;
  };

  void* FailAllocation();
  bool NewArena(std::int32_t needed);
  static void* Carve(Arena& arena, std::int32_t needed);

  mutable std::recursive_mutex mutex_;
  std::vector<Arena> arenas_;  // front of the list first
  std::int64_t limit_ = kInitialMemoryLimit;
  std::int64_t total_ = 0;
  bool badRelease_ = false;
  std::int64_t refused_ = 0;
  int armed_ = 0;
  std::vector<std::pair<int, std::function<void()>>> hooks_;
  int nextHook_ = 1;
};

// Arms the out-of-memory escape of a pool for the life of the scope.
class EscapeScope {
 public:
  explicit EscapeScope(MemoryPool& pool = MemoryPool::Main()) : pool_(pool) { pool_.arm_escape(); }
  ~EscapeScope() { pool_.disarm_escape(); }
  EscapeScope(const EscapeScope&) = delete;
  EscapeScope& operator=(const EscapeScope&) = delete;

 private:
  MemoryPool& pool_;
};

// A standard allocator over the main pool, for containers of document
// records: what they hold counts against the memory limit, and running out
// throws the escape when it is armed (std::bad_alloc otherwise).
template <typename T>
struct PoolAllocator {
  using value_type = T;
  PoolAllocator() = default;
  template <typename U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}  // NOLINT: converting, as allocators are
  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= 8, "pool blocks are 8-byte aligned");
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) {
      throw std::bad_alloc();
    }
    void* p = MemoryPool::Main().allocate(n * sizeof(T));
    if (!p) {
      throw std::bad_alloc();
    }
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { MemoryPool::Main().release(p); }
  template <typename U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

// Bump allocation from a chain of 32768-byte system blocks, released all at
// once by reset.
class ScratchArena {
 public:
  explicit ScratchArena(MemoryPool& pool = MemoryPool::Main()) : pool_(pool) {}
  ~ScratchArena();
  ScratchArena(const ScratchArena&) = delete;
  ScratchArena& operator=(const ScratchArena&) = delete;

  // size bytes (8-byte aligned), or null when no block can be had.
  void* scratch(std::size_t size);
  // Releases every block but the first and rewinds to its start.
  void scratch_reset();
  std::size_t block_count() const { return blocks_.size(); }

 private:
  struct Block {
    char* data;
    std::size_t size;
  };
  MemoryPool& pool_;
  std::vector<Block> blocks_;
  char* cursor_ = nullptr;
  std::size_t remaining_ = 0;
};

// A chain of 32768-byte chunks, each an 8-byte header and 455 records of 72
// bytes; record i lives in chunk i / 455 at slot i mod 455.
class RecordArray {
 public:
  static constexpr std::size_t kRecordSize = 72;
  static constexpr std::size_t kRecordsPerChunk = 455;
  static constexpr std::size_t kChunkHeader = 8;

  explicit RecordArray(MemoryPool& pool = MemoryPool::Main()) : pool_(pool) {}
  ~RecordArray() { record_free(); }
  RecordArray(const RecordArray&) = delete;
  RecordArray& operator=(const RecordArray&) = delete;

  // Address of record i, or null past the chunks held.
  void* record_at(std::size_t i) const;
  // Address of record i, appending a chunk when i falls just past the last.
  void* record_grow(std::size_t i);
  // Shrinks the last chunk to the records in use.
  bool record_trim(std::size_t count);
  void record_free();
  std::size_t chunk_count() const { return chunks_.size(); }

 private:
  MemoryPool& pool_;
  std::vector<char*> chunks_;
};

}  // namespace zentrope
