// The memory of one gumbo parse.
//
// gumbo makes over a million small allocations for a 10 MB page, and frees
// its tree by recursing once per level. This arena serves them from 64 KiB
// slabs of one block size each, with an 8-byte prefix per block instead of
// malloc's chunk header, and releases everything in one sweep when it is
// destroyed, however deep the tree. While the tree is converted into our own
// document, each part is freed as soon as it has been copied ("draining"),
// and a slab whose blocks are all free goes back to the system at once, so
// gumbo's tree and the new document are never both held in full.
#pragma once

#include <gumbo.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexel::html {

class GumboArena {
 public:
  GumboArena();
  ~GumboArena();
  GumboArena(const GumboArena&) = delete;
  GumboArena& operator=(const GumboArena&) = delete;
  GumboArena(GumboArena&&) = delete;
  GumboArena& operator=(GumboArena&&) = delete;

  // Options for gumbo_parse_with_options that allocate here and record no
  // parse errors (broken pages would otherwise cost a record per bad byte).
  // The arena must outlive every use of the parse's output.
  GumboOptions Options();

  // gumbo's allocator and deallocator. Freeing null does nothing, and so does
  // freeing a small block (up to 8 KiB) a second time or after its slab has
  // been released; larger blocks go back to malloc when freed.
  void* Allocate(std::size_t size);
  void Free(void* block);

  // From now on freed blocks are not reused, and a slab whose last block is
  // freed is given back to the system. Later allocations still work.
  void BeginDraining();

  // Slabs given back so far, and slabs taken in all; for tests.
  std::size_t ReleasedSlabs() const { return released_slabs_; }
  std::size_t SlabCount() const { return slab_count_; }

  static constexpr std::size_t kSlabBytes = std::size_t{64} << 10;

 private:
  struct Slab;
  struct LargeLink {
    LargeLink* previous;
    LargeLink* next;
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
  LargeLink large_{&large_, &large_};
  bool draining_ = false;
  std::size_t slab_count_ = 0;
  std::size_t released_slabs_ = 0;
};

}  // namespace vexel::html
