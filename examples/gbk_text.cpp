#include "examples/gbk_text.h"

#include "html/iconv_handle.h"

namespace vexel::sample {

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  const html::IconvHandle converter = html::OpenIconv("GBK", "UTF-8");
  if (!converter) {
    return std::nullopt;
  }

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
