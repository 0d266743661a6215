// The memory of one gumbo parse.
//
// gumbo makes over a million small allocations for a 10 MB page, and frees
// its tree by recursing once per level. This arena serves them from 64 KiB
// slabs of one block size each, with an 8-byte prefix per block instead of
// malloc's chunk header, and releases everything in one sweep when it is
// destroyed, however deep the tree. While the tree is converted into our own
// document, each part is freed as soon as it has been copied ("draining"),
// and, once the arena is past a few megabytes, a slab whose blocks are all
// free goes back to the system at once, so gumbo's tree and the new document
// of a large page are never both held in full.
//
// The arena can be given a budget: the memory it may take from the system
// at once. gumbo does not check what its allocator returns, so a parse that
// would pass the budget is abandoned from inside the allocator instead (see
// Parse), and everything it took is released with the arena.
#pragma once

#include <gumbo.h>

#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace vexel::html {

class GumboArena {
 public:
  static constexpr std::size_t kNoBudget = std::numeric_limits<std::size_t>::max();

  // `budget`: the most memory, in bytes, the arena may hold at once.
  explicit GumboArena(std::size_t budget = kNoBudget);
  ~GumboArena();
  GumboArena(const GumboArena&) = delete;
  GumboArena& operator=(const GumboArena&) = delete;
  GumboArena(GumboArena&&) = delete;
  GumboArena& operator=(GumboArena&&) = delete;

  // Options for gumbo_parse_with_options that allocate here and record no
  // parse errors (broken pages would otherwise cost a record per bad byte).
  // The arena must outlive every use of the parse's output. Outside Parse,
  // an allocation the arena refuses reaches gumbo as null, which it does not
  // survive: parse through Parse whenever a budget is set.
  GumboOptions Options();

  // gumbo_parse_with_options with Options(). Null when an allocation fails
  // (it would pass the budget, or the system has no memory left): the parse
  // is abandoned there, and OverBudget() tells which of the two it was.
  GumboOutput* Parse(std::string_view markup);

  // gumbo's allocator and deallocator. Allocate gives null when the block
  // would take the arena past its budget. Freeing null does nothing, and so
  // does freeing a small block (up to 8 KiB) a second time or after its slab
  // has been released; larger blocks go back to malloc when freed.
  void* Allocate(std::size_t size);
  void Free(void* block);

  // From now on freed blocks are not reused, and, while the arena holds
  // more than 2 MiB, a slab whose last block is freed is given back to the
  // system. Later allocations still work.
  void BeginDraining();

  // Slabs given back so far, and slabs taken in all; for tests.
  std::size_t ReleasedSlabs() const { return released_slabs_; }
  std::size_t SlabCount() const { return slab_count_; }

  // Bytes held from the system now (mapped regions, whether touched or not,
  // and large blocks), and whether an allocation was refused for the budget.
  std::size_t HeldBytes() const { return held_bytes_; }
  bool OverBudget() const { return over_budget_; }

  static constexpr std::size_t kSlabBytes = std::size_t{64} << 10;

 private:
  struct Slab;
  struct LargeLink {
    LargeLink* previous;
    LargeLink* next;
    std::size_t bytes;  // as taken from malloc, link and prefix included
  };
  struct SizeClass {
    Slab* bump_slab = nullptr;  // the slab new blocks of this size come from
    std::size_t bump_offset = 0;
    void* free_list = nullptr;  // freed blocks' user areas, linked through their first word
  };
  struct Mapping {
    void* address;
    std::size_t length;
  };

  Slab* NewSlab(std::uint32_t size_class);
  void* AllocateLarge(std::size_t size);

  static constexpr std::size_t kClassCount = 30;
  std::array<SizeClass, kClassCount> classes_{};
  std::vector<Mapping> regions_;
  std::vector<char*> slabs_;
  char* region_next_ = nullptr;  // the next unused slab of the newest region
  char* region_end_ = nullptr;
  LargeLink large_{&large_, &large_, 0};
  bool draining_ = false;
  std::size_t slab_count_ = 0;
  std::size_t released_slabs_ = 0;
  std::size_t budget_;
  std::size_t held_bytes_ = 0;  // never above budget_
  bool over_budget_ = false;
  std::jmp_buf* escape_ = nullptr;  // set while Parse runs gumbo
};

}  // namespace vexel::html
