// Test-side conversion of UTF-8 text into a legacy encoding (GBK pages and
// the like), through the C library's iconv. Independent of the decoder under
// test except for sharing glibc's tables.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vexel::testing {

inline std::string EncodeFromUtf8(std::string_view utf8, const char* encoding) {
  const iconv_t handle = iconv_open(encoding, "UTF-8");
  if (handle == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("no iconv converter to ") + encoding);
  }
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* out_pointer = out.data();
  std::size_t out_left = out.size();
  const std::size_t result = iconv(handle, &in, &in_left, &out_pointer, &out_left);
  iconv_close(handle);
  if (result == static_cast<std::size_t>(-1)) {
    throw std::runtime_error(std::string("text not representable in ") + encoding);
  }
  out.resize(out.size() - out_left);
  return out;
}

inline std::string ToGbk(std::string_view utf8) { return EncodeFromUtf8(utf8, "GBK"); }

}  // namespace vexel::testing
