// The arena gumbo's parse lives in: blocks reused while parsing, every misuse
// of free harmless, and slabs handed back while the tree is drained.
#include "html/gumbo_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace vexel::html {
namespace {

// Fills a block with a pattern derived from its index, to find overlaps.
void Fill(void* block, std::size_t size, int index) { std::memset(block, index & 0xFF, size); }
bool Holds(const void* block, std::size_t size, int index) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != static_cast<unsigned char>(index & 0xFF)) {
      return false;
    }
  }
  return true;
}

TEST(GumboArena, BlocksOfEverySizeAreDistinctAlignedAndKeepTheirBytes) {
  GumboArena arena;
  std::vector<std::pair<void*, std::size_t>> blocks;
  for (int i = 0; i < 3000; ++i) {
    const auto size = static_cast<std::size_t>((i * 37) % 9000);  // some past 8 KiB
    void* block = arena.Allocate(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0U);
    Fill(block, size, i);
    blocks.emplace_back(block, size);
  }
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(Holds(blocks[i].first, blocks[i].second, i)) << i;
  }
  for (const auto& [block, size] : blocks) {
    arena.Free(block);
  }
}

TEST(GumboArena, FreedBlocksAreReusedWhileParsing) {
  GumboArena arena;
  std::vector<void*> blocks;
  blocks.reserve(5000);
  for (int i = 0; i < 5000; ++i) {
    blocks.push_back(arena.Allocate(100));
  }
  const std::size_t slabs = arena.SlabCount();
  for (void* block : blocks) {
    arena.Free(block);
  }
  for (int i = 0; i < 5000; ++i) {
    arena.Allocate(100);
  }
  EXPECT_EQ(arena.SlabCount(), slabs);
  EXPECT_EQ(arena.ReleasedSlabs(), 0U);
}

TEST(GumboArena, DoubleAndNullFreesDoNothing) {
  GumboArena arena;
  void* first = arena.Allocate(40);
  arena.Free(first);
  arena.Free(first);
  arena.Free(nullptr);
  // Had the second free counted, both of these would be the same block.
  void* a = arena.Allocate(40);
  void* b = arena.Allocate(40);
  EXPECT_NE(a, b);
  std::memset(a, 1, 40);
  std::memset(b, 2, 40);
  EXPECT_TRUE(Holds(a, 40, 1));
}

TEST(GumboArena, DrainingGivesEmptySlabsBack) {
  // A small page's arena keeps its slabs: it is unmapped whole soon after.
  GumboArena small;
  small.Free(small.Allocate(200));
  small.BeginDraining();
  small.Free(small.Allocate(3000));
  EXPECT_EQ(small.ReleasedSlabs(), 0U);

  GumboArena arena;
  std::vector<void*> kept;
  std::vector<void*> drained;
  for (int i = 0; i < 20'000; ++i) {
    (i < 1000 ? kept : drained).push_back(arena.Allocate(200));
  }
  void* freed_early = arena.Allocate(3000);
  arena.Free(freed_early);  // its slab is empty before draining starts
  const std::size_t slabs = arena.SlabCount();
  ASSERT_GT(slabs, 40U);

  arena.BeginDraining();
  EXPECT_EQ(arena.ReleasedSlabs(), 1U);
  for (void* block : drained) {
    arena.Free(block);
  }
  // Every slab but the ones holding the kept blocks (the first few) is back.
  EXPECT_GE(arena.ReleasedSlabs(), slabs - 5);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    Fill(kept[i], 200, static_cast<int>(i));
  }
  void* late = arena.Allocate(200);  // still possible, from fresh memory
  ASSERT_NE(late, nullptr);
  Fill(late, 200, 7);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    ASSERT_TRUE(Holds(kept[i], 200, static_cast<int>(i)));
  }
  for (void* block : drained) {
    arena.Free(block);  // again, after their slabs are gone: nothing happens
  }
}

TEST(GumboArena, ABudgetRefusesWhatWouldPassItAndAbandonsTheParse) {
  constexpr std::size_t kBudget = std::size_t{3} << 20;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  GumboArena arena(kBudget);
  ASSERT_NE(arena.Allocate(100), nullptr);  // maps the first region, a little over 1 MiB
  void* large = arena.Allocate(kMiB);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(arena.Allocate(kMiB), nullptr);
  EXPECT_TRUE(arena.OverBudget());
  EXPECT_LE(arena.HeldBytes(), kBudget);
  arena.Free(large);  // what is given back counts no more
  EXPECT_NE(arena.Allocate(kMiB), nullptr);

  // gumbo cannot take a null block; the parse is left instead.
  std::string page;
  for (int i = 0; i < 100'000; ++i) {
    page += "<p title=t>x";
  }
  GumboArena parse_arena(kBudget);
  EXPECT_EQ(parse_arena.Parse(page), nullptr);
  EXPECT_TRUE(parse_arena.OverBudget());
  EXPECT_LE(parse_arena.HeldBytes(), kBudget);

  GumboArena small_arena(kBudget);
  GumboOutput* output = small_arena.Parse("<p>a<b>b</p>");
  ASSERT_NE(output, nullptr);
  ASSERT_NE(output->root, nullptr);
  EXPECT_EQ(output->root->v.element.children.length, 2U);  // head and body
  EXPECT_FALSE(small_arena.OverBudget());
}

TEST(GumboArena, OptionsBindTheArenaAndRecordNoErrors) {
  GumboArena arena;
  const GumboOptions options = arena.Options();
  EXPECT_EQ(options.userdata, &arena);
  EXPECT_EQ(options.max_errors, 0);
  void* block = options.allocator(options.userdata, 64);
  ASSERT_NE(block, nullptr);
  options.deallocator(options.userdata, block);
  GumboOutput* output = gumbo_parse_with_options(&options, "<p>a<b>b</p>", 12);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->errors.length, 0U);
  EXPECT_GT(arena.SlabCount(), 0U);
}

}  // namespace
}  // namespace vexel::html
