// The pool allocator, scratch arena and chunked record array.
#include "shell/memory_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "shell/error_log.h"

namespace zentrope {

namespace {

// System blocks keep their size in a 16-byte prefix so that what follows
// stays 16-byte aligned.
constexpr std::size_t kSystemPrefix = 16;

std::int32_t ReadI32(const char* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void WriteI32(char* p, std::int32_t v) {
  std::memcpy(p, &v, sizeof v);
}

// Free-list links are stored as offset + 1 so that zero means "none", which is
// also what an in-use block carries.
std::int32_t BlockSize(const char* data, std::int32_t off) {
  return ReadI32(data + off);
}
std::int32_t BlockNext(const char* data, std::int32_t off) {
  return ReadI32(data + off + 4) - 1;
}
void SetBlockSize(char* data, std::int32_t off, std::int32_t size) {
  WriteI32(data + off, size);
}
void SetBlockNext(char* data, std::int32_t off, std::int32_t next) {
  WriteI32(data + off + 4, next + 1);
}

}  // namespace

MemoryPool::~MemoryPool() {
  for (Arena& a : arenas_) {
    system_release(a.base);
  }
}

MemoryPool& MemoryPool::Main() {
  static MemoryPool pool;
  return pool;
}

void* MemoryPool::system_allocate(std::size_t size) {
  std::lock_guard lock(mutex_);
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
      total_ + static_cast<std::int64_t>(size) > limit_) {
    ++refused_;
    return nullptr;
  }
  char* base = static_cast<char*>(std::calloc(1, kSystemPrefix + size));
  if (!base) {
    ++refused_;
    return nullptr;
  }
  const std::uint64_t recorded = size;
  std::memcpy(base, &recorded, sizeof recorded);
  total_ += static_cast<std::int64_t>(size);
  return base + kSystemPrefix;
}

void MemoryPool::system_release(void* p) {
  if (!p) {
    return;
  }
  std::lock_guard lock(mutex_);
  char* base = static_cast<char*>(p) - kSystemPrefix;
  std::uint64_t recorded;
  std::memcpy(&recorded, base, sizeof recorded);
  total_ -= static_cast<std::int64_t>(recorded);
  std::free(base);
}

void MemoryPool::set_limit(std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  limit_ = bytes;
}

std::int64_t MemoryPool::limit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

std::int64_t MemoryPool::total_allocated() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::size_t MemoryPool::arena_count() const {
  std::lock_guard lock(mutex_);
  return arenas_.size();
}

int MemoryPool::add_out_of_memory_hook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  hooks_.emplace_back(nextHook_, std::move(hook));
  return nextHook_++;
}

void MemoryPool::remove_out_of_memory_hook(int handle) {
  std::lock_guard lock(mutex_);
  std::erase_if(hooks_, [handle](const auto& h) { return h.first == handle; });
}

std::int64_t MemoryPool::refused_allocations() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

void* MemoryPool::FailAllocation() {
  {
    std::lock_guard lock(mutex_);
    ++refused_;
  }
  // The error log keeps the running total the limit refused.
  LogMemoryTotal(*this);
  // Hooks may release pool memory, which takes the lock again.
  const auto hooks = hooks_;
  for (const auto& h : hooks) {
    h.second();
  }
  if (escape_armed()) {
    throw OutOfMemoryEscape();
  }
  return nullptr;
}

bool MemoryPool::NewArena(std::int32_t needed) {
  const std::int32_t size = std::max(kArenaSize, needed + kArenaHeader);
  char* base = static_cast<char*>(system_allocate(static_cast<std::size_t>(size)));
  if (!base) {
    return false;
  }
  Arena a;
  a.base = base;
  a.dataStart = base + kArenaHeader;
  a.dataEnd = base + size;
  a.capacity = size - kArenaHeader;
  a.freeBytes = a.capacity;
  a.freeHead = 0;
  SetBlockSize(a.dataStart, 0, a.capacity);
  SetBlockNext(a.dataStart, 0, -1);
  arenas_.insert(arenas_.begin(), a);
  return true;
}

void* MemoryPool::Carve(Arena& a, std::int32_t needed) {
  char* data = a.dataStart;
  std::int32_t prev = -1;
  for (std::int32_t cur = a.freeHead; cur != -1; prev = cur, cur = BlockNext(data, cur)) {
    const std::int32_t size = BlockSize(data, cur);
    if (size < needed) {
      continue;
    }
    std::int32_t replacement = BlockNext(data, cur);
    if (size > needed) {
      // The remainder takes the block's place in the free list.
      const std::int32_t rest = cur + needed;
      SetBlockSize(data, rest, size - needed);
      SetBlockNext(data, rest, replacement);
      replacement = rest;
    }
    if (prev == -1) {
      a.freeHead = replacement;
    } else {
      SetBlockNext(data, prev, replacement);
    }
    a.freeBytes -= needed;
    SetBlockSize(data, cur, needed);
    SetBlockNext(data, cur, -1);
    return data + cur + kBlockHeader;
  }
  return nullptr;
}

void* MemoryPool::allocate(std::size_t size) {
  std::unique_lock lock(mutex_);
  constexpr std::size_t kLargest = std::numeric_limits<std::int32_t>::max() - 64;
  if (size > kLargest) {
    lock.unlock();
    return FailAllocation();
  }
  const auto needed = static_cast<std::int32_t>((size + kBlockHeader + 7) & ~std::size_t{7});
  for (Arena& a : arenas_) {
    if (a.freeBytes < needed) {
      continue;
    }
    if (void* p = Carve(a, needed)) {
      return p;
    }
  }
  if (total_ + needed > limit_ || !NewArena(needed)) {
    lock.unlock();
    return FailAllocation();
  }
  return Carve(arenas_.front(), needed);
}

void MemoryPool::release(void* p) {
  if (!p) {
    return;
  }
  std::lock_guard lock(mutex_);
  char* block = static_cast<char*>(p) - kBlockHeader;
  auto arenaIt = std::find_if(arenas_.begin(), arenas_.end(), [block](const Arena& a) {
    return block >= a.dataStart && block < a.dataEnd;
  });
  if (arenaIt == arenas_.end()) {
    badRelease_ = true;
    return;
  }
  Arena& a = *arenaIt;
  char* data = a.dataStart;
  const auto off = static_cast<std::int32_t>(block - data);
  const std::int32_t size = BlockSize(data, off);
  if (off % 8 != 0 || size < kBlockHeader || size % 8 != 0 || off + size > a.capacity ||
      BlockNext(data, off) != -1) {
    badRelease_ = true;  // not a block header, or a block already free
    return;
  }
  // Free blocks are held in descending address order: find the first one
  // below the block, remembering the one above it and that one's predecessor.
  std::int32_t abovePrev = -1;
  std::int32_t above = -1;
  std::int32_t below = a.freeHead;
  while (below != -1 && below > off) {
    abovePrev = above;
    above = below;
    below = BlockNext(data, below);
  }
  if (below == off) {
    badRelease_ = true;
    return;
  }
  auto link = [&](std::int32_t from, std::int32_t to) {
    if (from == -1) {
      a.freeHead = to;
    } else {
      SetBlockNext(data, from, to);
    }
  };
  std::int32_t merged;
  if (below != -1 && below + BlockSize(data, below) == off) {
    // Grow the lower neighbour; the released header becomes payload.
    SetBlockSize(data, below, BlockSize(data, below) + size);
    std::memset(data + off, 0, static_cast<std::size_t>(size));
    merged = below;
  } else {
    std::memset(data + off + kBlockHeader, 0, static_cast<std::size_t>(size - kBlockHeader));
    SetBlockNext(data, off, below);
    link(above, off);
    merged = off;
  }
  if (above != -1 && merged + BlockSize(data, merged) == above) {
    // Absorb the upper neighbour: its header becomes payload and its place in
    // the list goes to the merged block.
    const std::int32_t aboveSize = BlockSize(data, above);
    std::memset(data + above, 0, kBlockHeader);
    SetBlockSize(data, merged, BlockSize(data, merged) + aboveSize);
    link(abovePrev, merged);
  }
  a.freeBytes += size;
  if (a.freeBytes == a.capacity) {
    char* base = a.base;
    arenas_.erase(arenaIt);
    system_release(base);
  }
}

ScratchArena::~ScratchArena() {
  for (Block& b : blocks_) {
    pool_.system_release(b.data);
  }
}

void* ScratchArena::scratch(std::size_t size) {
  constexpr std::size_t kLink = 8;  // the chain link, padded for alignment
  const std::size_t rounded = (size + 7) & ~std::size_t{7};
  if (rounded < size) {
    return nullptr;
  }
  if (!cursor_ || remaining_ < rounded) {
    std::size_t blockSize = std::max<std::size_t>(kArenaSize, rounded + kLink);
    char* data = nullptr;
    while (!(data = static_cast<char*>(pool_.system_allocate(blockSize)))) {
      // Settle for a smaller block while it still holds the request.
      if (blockSize < rounded + kLink + 23) {
        return nullptr;
      }
      blockSize -= 23;
    }
    blocks_.push_back({data, blockSize});
    cursor_ = data + kLink;
    remaining_ = (blockSize - kLink) & ~std::size_t{7};
  }
  char* p = cursor_;
  cursor_ += rounded;
  remaining_ -= rounded;
  return p;
}

void ScratchArena::scratch_reset() {
  if (blocks_.empty()) {
    return;
  }
  for (std::size_t i = 1; i < blocks_.size(); ++i) {
    pool_.system_release(blocks_[i].data);
  }
  blocks_.resize(1);
  cursor_ = blocks_[0].data + 8;
  remaining_ = (blocks_[0].size - 8) & ~std::size_t{7};
}

void* RecordArray::record_at(std::size_t i) const {
  const std::size_t chunk = i / kRecordsPerChunk;
  if (chunk >= chunks_.size()) {
    return nullptr;
  }
  char* base = chunks_[chunk];
  std::uint64_t capacity;  // records this chunk holds (less than full after a trim)
  std::memcpy(&capacity, base, sizeof capacity);
  const std::size_t slot = i % kRecordsPerChunk;
  if (slot >= capacity) {
    return nullptr;
  }
  return base + kChunkHeader + slot * kRecordSize;
}

void* RecordArray::record_grow(std::size_t i) {
  const std::size_t chunk = i / kRecordsPerChunk;
  if (chunk + 1 == chunks_.size() && !record_at(i)) {
    // The last chunk was trimmed: bring it back to full size.
    char* full = static_cast<char*>(pool_.system_allocate(kArenaSize));
    if (!full) {
      return nullptr;
    }
    char* old = chunks_.back();
    std::uint64_t capacity;
    std::memcpy(&capacity, old, sizeof capacity);
    std::memcpy(full + kChunkHeader, old + kChunkHeader, capacity * kRecordSize);
    const std::uint64_t fullCapacity = kRecordsPerChunk;
    std::memcpy(full, &fullCapacity, sizeof fullCapacity);
    pool_.system_release(old);
    chunks_.back() = full;
  } else if (chunk == chunks_.size()) {
    char* fresh = static_cast<char*>(pool_.system_allocate(kArenaSize));
    if (!fresh) {
      return nullptr;
    }
    const std::uint64_t fullCapacity = kRecordsPerChunk;
    std::memcpy(fresh, &fullCapacity, sizeof fullCapacity);
    chunks_.push_back(fresh);
  }
  return record_at(i);
}

bool RecordArray::record_trim(std::size_t count) {
  if (chunks_.empty()) {
    return true;
  }
  const std::size_t inUse = count % kRecordsPerChunk;
  if (inUse == 0) {
    return true;  // the last chunk is full (or empty): nothing to give back safely
  }
  char* old = chunks_.back();
  std::uint64_t capacity;
  std::memcpy(&capacity, old, sizeof capacity);
  if (inUse >= capacity) {
    return true;
  }
  char* small = static_cast<char*>(pool_.system_allocate(kChunkHeader + inUse * kRecordSize));
  if (!small) {
    return false;
  }
  const std::uint64_t newCapacity = inUse;
  std::memcpy(small, &newCapacity, sizeof newCapacity);
  std::memcpy(small + kChunkHeader, old + kChunkHeader, inUse * kRecordSize);
  pool_.system_release(old);
  chunks_.back() = small;
  return true;
}

void RecordArray::record_free() {
  for (char* c : chunks_) {
    pool_.system_release(c);
  }
  chunks_.clear();
}

}  // namespace zentrope
