#include "html/gumbo_arena.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

// An allocator hands out raw memory and finds headers by address arithmetic;
// the ownership and pointer-cast checks do not fit it.
// NOLINTBEGIN(cppcoreguidelines-owning-memory, performance-no-int-to-ptr)

namespace vexel::html {
namespace {

// Every block starts with this, right before the pointer handed out.
struct Prefix {
  std::uint32_t state;
  std::uint32_t size_class;
};
constexpr std::size_t kPrefixBytes = sizeof(Prefix);
constexpr std::uint32_t kLive = 0x4556494CU;   // "LIVE"
constexpr std::uint32_t kFreed = 0x45455246U;  // "FREE"
constexpr std::uint32_t kLargeClass = 0xFFFFFFFFU;

// Slabs are carved from regions, each mapped with room to align its slabs to
// their size, so a block finds its slab by masking its address. Regions start
// small (most pages are small) and grow to 4 MiB.
constexpr std::size_t kFirstRegionBytes = std::size_t{1} << 20;
constexpr std::size_t kLargestRegionBytes = std::size_t{4} << 20;
constexpr std::size_t kSlabHeaderBytes = 64;
// Draining gives slabs back only while the arena holds more than this.
// Each slab given back costs a system call and, while other threads of the
// program run, an interrupt to every other core to drop the slab from its
// address cache; the arena of a small page, which fits in its first region,
// is unmapped as a whole a moment later anyway.
constexpr std::size_t kKeptWhileDraining = std::size_t{2} << 20;

// Block sizes (prefix included), each a multiple of 16 so that blocks keep
// the 8-byte alignment gumbo's structures need.
constexpr std::array<std::uint32_t, 30> kBlockSizes{
    16,  32,  48,  64,  80,  96,   112,  128,  144,  160,  192,  224,  256,  320,  384,
    448, 512, 640, 768, 896, 1024, 1280, 1536, 2048, 2560, 3072, 4096, 5120, 6144, 8192};
constexpr std::size_t kLargestBlock = 8192;

// The class of a block of `bytes` (prefix included), by 16-byte steps.
constexpr auto kClassByStep = [] {
  std::array<std::uint8_t, kLargestBlock / 16 + 1> table{};
  std::size_t size_class = 0;
  for (std::size_t step = 0; step < table.size(); ++step) {
    while (kBlockSizes[size_class] < step * 16) {
      ++size_class;
    }
    table[step] = static_cast<std::uint8_t>(size_class);
  }
  return table;
}();

Prefix ReadPrefix(const void* user) {
  Prefix prefix{};
  std::memcpy(&prefix, static_cast<const char*>(user) - kPrefixBytes, kPrefixBytes);
  return prefix;
}

void WritePrefix(void* user, Prefix prefix) {
  std::memcpy(static_cast<char*>(user) - kPrefixBytes, &prefix, kPrefixBytes);
}

// The first region of the last arena to go, kept mapped for the next one:
// a program parses page after page, and mapping a region afresh for each
// costs a page fault for every page of it that is touched, and unmapping it
// an interrupt to every other core. One region at most is kept; an arena
// takes it whole, stale contents and all, since every block is written
// before it is handed out.
std::atomic<void*> kept_first_region{nullptr};
constexpr std::size_t kFirstRegionLength = kFirstRegionBytes + GumboArena::kSlabBytes;

// The frame the allocator jumps back to when it refuses a block. gumbo does
// not check its allocations and has no way to be stopped, and handing out
// memory past the budget from a reserve would only postpone the question, so
// the parse is abandoned with a longjmp. That is sound here because:
//   - every frame it skips is gumbo's own C code or the allocator trampoline
//     in Options(), none of which holds an object with a destructor; the
//     refusing Allocate call has already returned, so the arena's lists are
//     whole when the jump leaves;
//   - gumbo keeps all of a parse's state on the stack or in memory from this
//     allocator (it has no other calls to malloc and no writable globals), so
//     nothing is left behind but arena memory, which the arena releases;
//   - this function owns nothing and changes no local after setjmp, and the
//     caller never touches the abandoned parse's output.
[[gnu::noinline]] GumboOutput* ParseOrEscape(const GumboOptions* options, const char* data,
                                             std::size_t size, std::jmp_buf* escape) {
  if (setjmp(*escape) != 0) {
    return nullptr;
  }
  return gumbo_parse_with_options(options, data, size);
}

}  // namespace

struct GumboArena::Slab {
  std::uint32_t size_class;
  std::uint32_t live;  // blocks handed out and not yet freed
};

GumboArena::GumboArena(std::size_t budget) : budget_(budget) {
  if (budget != kNoBudget) {
    // So that taking a slab never allocates (or throws) inside gumbo's call.
    slabs_.reserve(budget / kSlabBytes + 1);
    regions_.reserve(budget / (kFirstRegionBytes + kSlabBytes) + 1);
  }
}

GumboArena::~GumboArena() {
  LargeLink* link = large_.next;
  while (link != &large_) {
    LargeLink* next = link->next;
    std::free(link);  // NOLINT(cppcoreguidelines-no-malloc): large blocks come from malloc
    link = next;
  }
  for (const Mapping& region : regions_) {
    ASAN_UNPOISON_MEMORY_REGION(region.address, region.length);
    void* none = nullptr;
    if (region.length != kFirstRegionLength ||
        !kept_first_region.compare_exchange_strong(none, region.address)) {
      munmap(region.address, region.length);
    }
  }
}

GumboOptions GumboArena::Options() {
  GumboOptions options = kGumboDefaultOptions;
  options.allocator = [](void* userdata, std::size_t size) {
    auto* arena = static_cast<GumboArena*>(userdata);
    void* block = arena->Allocate(size);
    if (block == nullptr && arena->escape_ != nullptr) {
      std::longjmp(*arena->escape_, 1);  // back to ParseOrEscape
    }
    return block;
  };
  options.deallocator = [](void* arena, void* block) {
    static_cast<GumboArena*>(arena)->Free(block);
  };
  options.userdata = this;
  options.max_errors = 0;
  return options;
}

GumboOutput* GumboArena::Parse(std::string_view markup) {
  const GumboOptions options = Options();
  std::jmp_buf escape;
  escape_ = &escape;
  GumboOutput* output = ParseOrEscape(&options, markup.data(), markup.size(), &escape);
  escape_ = nullptr;
  return output;
}

GumboArena::Slab* GumboArena::NewSlab(std::uint32_t size_class) {
  static_assert(sizeof(Slab) <= kSlabHeaderBytes);
  if (region_next_ == nullptr ||
      static_cast<std::size_t>(region_end_ - region_next_) < kSlabBytes) {
    const std::size_t region_bytes = std::min(
        kFirstRegionBytes << std::min<std::size_t>(regions_.size(), 2), kLargestRegionBytes);
    const std::size_t length = region_bytes + kSlabBytes;
    if (length > budget_ - held_bytes_) {
      over_budget_ = true;
      return nullptr;
    }
    void* mapped = length == kFirstRegionLength ? kept_first_region.exchange(nullptr) : nullptr;
    if (mapped == nullptr) {
      mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    if (mapped == MAP_FAILED) {
      return nullptr;
    }
    regions_.push_back({mapped, length});
    held_bytes_ += length;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kSlabBytes - 1) & ~(std::uintptr_t{kSlabBytes} - 1);
    region_next_ = static_cast<char*>(mapped) + (aligned - start);
    region_end_ = static_cast<char*>(mapped) + length;
    // Nothing in a region may be touched until it is handed out.
    ASAN_POISON_MEMORY_REGION(mapped, length);
  }
  char* memory = region_next_;
  region_next_ += kSlabBytes;
  ++slab_count_;
  slabs_.push_back(memory);
  ASAN_UNPOISON_MEMORY_REGION(memory, kSlabHeaderBytes);
  return new (memory) Slab{size_class, 0};
}

void* GumboArena::AllocateLarge(std::size_t size) {
  static_assert((sizeof(LargeLink) + kPrefixBytes) % 16 == 0);
  const std::size_t bytes = sizeof(LargeLink) + kPrefixBytes + size;
  if (bytes > budget_ - held_bytes_) {
    over_budget_ = true;
    return nullptr;
  }
  // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): swept by the destructor
  void* raw = std::malloc(bytes);
  if (raw == nullptr) {
    return nullptr;
  }
  held_bytes_ += bytes;
  auto* link = static_cast<LargeLink*>(raw);
  link->previous = &large_;
  link->next = large_.next;
  link->bytes = bytes;
  large_.next->previous = link;
  large_.next = link;
  void* user = static_cast<char*>(raw) + sizeof(LargeLink) + kPrefixBytes;
  WritePrefix(user, {kLive, kLargeClass});
  return user;
}

void* GumboArena::Allocate(std::size_t size) {
  const std::size_t needed = std::max<std::size_t>(size, 1) + kPrefixBytes;
  // Once draining, nothing is reused: a new block must not land in a slab
  // that is about to be given back.
  if (needed > kLargestBlock || draining_) {
    return AllocateLarge(size);
  }
  const std::uint32_t size_class = kClassByStep[(needed + 15) / 16];
  SizeClass& sizes = classes_[size_class];
  void* user = nullptr;
  if (sizes.free_list != nullptr) {
    user = sizes.free_list;
    ASAN_UNPOISON_MEMORY_REGION(user, kBlockSizes[size_class] - kPrefixBytes);
    std::memcpy(&sizes.free_list, user, sizeof(void*));
  } else {
    const std::uint32_t block_bytes = kBlockSizes[size_class];
    if (sizes.bump_slab == nullptr || sizes.bump_offset + block_bytes > kSlabBytes) {
      sizes.bump_slab = NewSlab(size_class);
      sizes.bump_offset = kSlabHeaderBytes;
      if (sizes.bump_slab == nullptr) {
        return nullptr;
      }
    }
    char* block = reinterpret_cast<char*>(sizes.bump_slab) + sizes.bump_offset;
    sizes.bump_offset += block_bytes;
    ASAN_UNPOISON_MEMORY_REGION(block, block_bytes);
    user = block + kPrefixBytes;
  }
  WritePrefix(user, {kLive, size_class});
  auto* slab = reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(user) &
                                       ~(std::uintptr_t{kSlabBytes} - 1));
  ++slab->live;
  return user;
}

void GumboArena::Free(void* block) {
  if (block == nullptr) {
    return;
  }
  Prefix prefix = ReadPrefix(block);
  if (prefix.state != kLive) {
    return;  // freed before, or its slab is already back with the system
  }
  prefix.state = kFreed;
  WritePrefix(block, prefix);
  if (prefix.size_class == kLargeClass) {
    auto* link =
        reinterpret_cast<LargeLink*>(static_cast<char*>(block) - kPrefixBytes - sizeof(LargeLink));
    link->previous->next = link->next;
    link->next->previous = link->previous;
    held_bytes_ -= link->bytes;
    std::free(link);  // NOLINT(cppcoreguidelines-no-malloc)
    return;
  }
  auto* slab = reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) &
                                       ~(std::uintptr_t{kSlabBytes} - 1));
  --slab->live;
  ASAN_POISON_MEMORY_REGION(block, kBlockSizes[prefix.size_class] - kPrefixBytes);
  if (draining_) {
    if (slab->live == 0 && held_bytes_ > kKeptWhileDraining) {
      // Zero-filled on any later touch; the prefixes then read as not live.
      madvise(slab, kSlabBytes, MADV_DONTNEED);
      ++released_slabs_;
      held_bytes_ -= kSlabBytes;
    }
    return;
  }
  SizeClass& sizes = classes_[prefix.size_class];
  ASAN_UNPOISON_MEMORY_REGION(block, sizeof(void*));
  std::memcpy(block, &sizes.free_list, sizeof(void*));
  ASAN_POISON_MEMORY_REGION(block, sizeof(void*));
  sizes.free_list = block;
}

void GumboArena::BeginDraining() {
  draining_ = true;
  for (SizeClass& sizes : classes_) {
    sizes.free_list = nullptr;
  }
  // Slabs already empty would never see another free.
  for (char* memory : slabs_) {
    if (reinterpret_cast<Slab*>(memory)->live == 0 && held_bytes_ > kKeptWhileDraining) {
      madvise(memory, kSlabBytes, MADV_DONTNEED);
      ++released_slabs_;
      held_bytes_ -= kSlabBytes;
    }
  }
}

}  // namespace vexel::html

// NOLINTEND(cppcoreguidelines-owning-memory, performance-no-int-to-ptr)
