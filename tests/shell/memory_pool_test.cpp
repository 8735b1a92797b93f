// The pool allocator, scratch arena and record array.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shell/memory_pool.h"

namespace zentrope {
namespace {

constexpr std::int64_t kPlenty = std::int64_t{1} << 30;

bool AllZero(const void* p, std::size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != 0) {
      return false;
    }
  }
  return true;
}

TEST(MemoryPoolTest, StartsWithTheInitialLimit) {
  MemoryPool pool;
  EXPECT_EQ(pool.limit(), 32768);
  EXPECT_EQ(pool.total_allocated(), 0);
}

TEST(MemoryPoolTest, ZeroByteRequestsGetDistinctBlocks) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  void* a = pool.allocate(0);
  void* b = pool.allocate(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  // An 8-byte block is header only: the next block starts 8 bytes further.
  EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 8);
}

TEST(MemoryPoolTest, ArenaSizes) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  // needed = 32744 fills one standard arena exactly.
  void* exact = pool.allocate(32744 - 8);
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(pool.arena_count(), 1u);
  EXPECT_EQ(pool.total_allocated(), 32768);
  // Anything more needs a new arena.
  void* small = pool.allocate(1);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(pool.arena_count(), 2u);
  // 8 bytes more than a standard arena's data area: a larger arena.
  const std::int64_t before = pool.total_allocated();
  void* big = pool.allocate(32744 - 8 + 8);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(pool.total_allocated() - before, 32752 + 24);
  pool.release(exact);
  pool.release(small);
  pool.release(big);
  EXPECT_EQ(pool.total_allocated(), 0);
}

TEST(MemoryPoolTest, ReleasingEverythingReturnsTheArena) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  std::vector<void*> blocks;
  for (int i = 0; i < 100; ++i) {
    blocks.push_back(pool.allocate(static_cast<std::size_t>(i * 5)));
  }
  EXPECT_EQ(pool.arena_count(), 1u);
  // Release in an order that exercises merging with both neighbours.
  for (std::size_t i = 0; i < blocks.size(); i += 2) {
    pool.release(blocks[i]);
  }
  for (std::size_t i = 1; i < blocks.size(); i += 2) {
    pool.release(blocks[i]);
  }
  EXPECT_EQ(pool.arena_count(), 0u);
  EXPECT_EQ(pool.total_allocated(), 0);
  EXPECT_FALSE(pool.bad_release());
}

TEST(MemoryPoolTest, ReusedBlocksComeBackZeroed) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  void* keep = pool.allocate(16);  // keeps the arena alive
  void* a = pool.allocate(100);
  void* b = pool.allocate(100);
  std::memset(a, 0xAB, 100);
  std::memset(b, 0xCD, 100);
  pool.release(a);
  pool.release(b);  // merges with a's block: a header inside becomes payload
  void* c = pool.allocate(200);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(AllZero(c, 200));
  EXPECT_EQ(c, a);  // first fit takes the lowest free block of the right size
  pool.release(c);
  pool.release(keep);
}

TEST(MemoryPoolTest, FirstFitSplitsAndCoalesces) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  // Fill one arena exactly: a big block, then three of 72 bytes.
  void* big = pool.allocate(32744 - 216 - 8);
  void* b = pool.allocate(64);
  void* c = pool.allocate(64);
  void* d = pool.allocate(64);
  ASSERT_EQ(pool.arena_count(), 1u);
  pool.release(c);
  pool.release(b);
  pool.release(d);  // b, c, d merge into one free run of 216 bytes
  void* whole = pool.allocate(216 - 8);
  EXPECT_EQ(whole, b);
  EXPECT_EQ(pool.arena_count(), 1u);
  pool.release(whole);
  // A smaller request is carved from the front of the free run.
  void* part = pool.allocate(16);
  EXPECT_EQ(part, b);
  void* rest = pool.allocate(216 - 24 - 8);
  EXPECT_EQ(static_cast<char*>(rest) - static_cast<char*>(part), 24);
  EXPECT_EQ(pool.arena_count(), 1u);
  pool.release(part);
  pool.release(rest);
  pool.release(big);
  EXPECT_EQ(pool.arena_count(), 0u);
}

TEST(MemoryPoolTest, LimitBelowTotalFailsOnlyNewArenas) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  void* a = pool.allocate(1000);
  ASSERT_NE(a, nullptr);
  pool.set_limit(100);  // below the current total
  void* fits = pool.allocate(1000);
  EXPECT_NE(fits, nullptr);
  EXPECT_EQ(pool.allocate(40000), nullptr);
  int hookCalls = 0;
  const int handle = pool.add_out_of_memory_hook([&] { ++hookCalls; });
  EXPECT_EQ(pool.allocate(40000), nullptr);
  EXPECT_EQ(hookCalls, 1);
  pool.remove_out_of_memory_hook(handle);
  pool.release(a);
  pool.release(fits);
}

TEST(MemoryPoolTest, ArmedEscapeReturnsControl) {
  MemoryPool pool;
  pool.set_limit(40000);
  std::vector<void*> kept;
  int escapes = 0;
  // The armed operation regains control with its own state intact.
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      EscapeScope armed(pool);
      for (;;) {
        void* p = pool.allocate(4000);
        kept.push_back(p);
      }
    } catch (const OutOfMemoryEscape&) {
      ++escapes;
    }
  }
  EXPECT_EQ(escapes, 3);
  EXPECT_FALSE(pool.escape_armed());
  for (void* p : kept) {
    EXPECT_NE(p, nullptr);
    pool.release(p);
  }
  // Disarmed, the same failure returns null.
  pool.set_limit(0);
  EXPECT_EQ(pool.allocate(1), nullptr);
}

TEST(MemoryPoolTest, BadReleasesTouchNothing) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  int local = 0;
  pool.release(nullptr);
  EXPECT_FALSE(pool.bad_release());
  pool.release(&local);
  EXPECT_TRUE(pool.bad_release());
  MemoryPool other;
  other.set_limit(kPlenty);
  void* p = other.allocate(32);
  void* q = other.allocate(32);
  other.release(p);
  other.release(p);  // twice
  EXPECT_TRUE(other.bad_release());
  other.release(q);
  EXPECT_EQ(other.arena_count(), 0u);
}

TEST(ScratchArenaTest, BumpsAndResets) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  ScratchArena scratch(pool);
  char* a = static_cast<char*>(scratch.scratch(10));
  char* b = static_cast<char*>(scratch.scratch(10));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(b - a, 16);  // rounded to keep records aligned
  for (int i = 0; i < 10; ++i) {
    ASSERT_NE(scratch.scratch(10000), nullptr);
  }
  EXPECT_GT(scratch.block_count(), 1u);
  ASSERT_NE(scratch.scratch(100000), nullptr);  // larger than a block
  scratch.scratch_reset();
  EXPECT_EQ(scratch.block_count(), 1u);
  EXPECT_EQ(scratch.scratch(10), a);
  EXPECT_EQ(pool.total_allocated(), 32768);
}

TEST(RecordArrayTest, ChunksOf455Records) {
  MemoryPool pool;
  pool.set_limit(kPlenty);
  RecordArray records(pool);
  EXPECT_EQ(RecordArray::kRecordsPerChunk * RecordArray::kRecordSize + RecordArray::kChunkHeader,
            32768u);
  EXPECT_EQ(records.record_at(0), nullptr);
  for (std::size_t i = 0; i < 456; ++i) {
    void* r = records.record_grow(i);
    ASSERT_NE(r, nullptr) << i;
    std::memset(r, static_cast<int>(i & 0xff), RecordArray::kRecordSize);
  }
  EXPECT_EQ(records.chunk_count(), 2u);
  // Record 455 is slot 0 of the second chunk; 454 the last of the first.
  EXPECT_EQ(static_cast<char*>(records.record_at(454)) - static_cast<char*>(records.record_at(0)),
            454 * 72);
  EXPECT_NE(static_cast<char*>(records.record_at(455)) - static_cast<char*>(records.record_at(0)),
            455 * 72);
  EXPECT_EQ(records.record_grow(2000), nullptr);  // not just past the last chunk

  ASSERT_TRUE(records.record_trim(456));
  EXPECT_EQ(records.record_at(456), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(records.record_at(455))[0], 455 & 0xff);
  EXPECT_EQ(pool.total_allocated(), 32768 + 8 + 72);
  // A full last chunk stays as it is.
  ASSERT_TRUE(records.record_trim(455 * 2));
  // Growing into a trimmed chunk brings it back to full size.
  ASSERT_NE(records.record_grow(500), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(records.record_at(455))[0], 455 & 0xff);
  records.record_free();
  EXPECT_EQ(pool.total_allocated(), 0);
}

}  // namespace
}  // namespace zentrope
