// glibc's iconv converters, owned: a converter is closed when its handle goes.
#pragma once

#include <iconv.h>

#include <memory>
#include <type_traits>

namespace vexel::html {

struct IconvCloser {
  void operator()(void* descriptor) const { iconv_close(static_cast<iconv_t>(descriptor)); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

// A converter from encoding `from` to encoding `to` (iconv's names); empty
// when the system has none.
inline IconvHandle OpenIconv(const char* to, const char* from) {
  iconv_t opened = iconv_open(to, from);
  // (iconv_t)-1 is iconv_open's failure value.
  if (opened == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    return nullptr;
  }
  return IconvHandle(opened);
}

}  // namespace vexel::html
