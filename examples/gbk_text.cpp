#include "examples/gbk_text.h"

#include <iconv.h>

#include <memory>
#include <type_traits>

namespace vexel::sample {
namespace {

struct IconvCloser {
  void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

}  // namespace

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  iconv_t raw = iconv_open("GBK", "UTF-8");
  // iconv_open's documented failure value.
  if (raw == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    return std::nullopt;
  }
  const IconvHandle converter(raw);

  std::string input(utf8);
  // GBK never needs more bytes than UTF-8 for the same text.
  std::string output(input.size(), '\0');
  char* in = input.data();
  std::size_t in_left = input.size();
  char* out = output.data();
  std::size_t out_left = output.size();
  if (iconv(converter.get(), &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  output.resize(output.size() - out_left);
  return output;
}

}  // namespace vexel::sample
