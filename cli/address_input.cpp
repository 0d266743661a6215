#include "cli/address_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>
#include <system_error>

#include "cli/console_output.h"
#include "cli/download_arguments.h"
#include "text/text.h"

namespace vexel::cli {
namespace {

bool IsAddress(std::string_view text) {
  return text::StartsWithIgnoringAsciiCase(text, "http://") ||
         text::StartsWithIgnoringAsciiCase(text, "https://") ||
         text::StartsWithIgnoringAsciiCase(text, "file://");
}

std::string ByteText(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// Reads the lines of `stream` into `addresses`. The line buffer holds one
// byte more than a line may have, so a longer line is known as such without
// being read whole.
bool ReadAddressLines(std::istream& stream, const std::string& name,
                      std::vector<std::string>& addresses, std::size_t& list_bytes) {
  std::vector<char> buffer(kMaxAddressLineBytes + 2);
  for (std::size_t number = 1; !stream.eof(); ++number) {
    stream.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (stream.bad()) {
      Complain("cannot read " + name);
      return false;
    }
    const auto got = static_cast<std::size_t>(stream.gcount());
    if (stream.fail() && stream.eof() && got == 0) {
      break;  // the end, after a line end or in an empty input
    }
    const std::string place = "line " + std::to_string(number) + " of " + name;
    // Failing short of the end: the buffer filled before a line end came.
    const bool line_ended = !stream.eof();
    std::string_view line(buffer.data(), line_ended ? got - 1 : got);
    if (stream.fail() || line.size() > kMaxAddressLineBytes) {
      Complain(place + " is longer than " + std::to_string(kMaxAddressLineBytes) +
               " bytes: not a list of addresses");
      return false;
    }
    // A list written with "\r\n" line ends reads as it would with "\n".
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (const std::size_t control = FindControlCharacter(line); control != std::string_view::npos) {
      Complain(place + " holds the control character " +
               ByteText(static_cast<unsigned char>(line[control])) + ": not a list of addresses");
      return false;
    }
    line = text::TrimAsciiWhitespace(line.substr(0, line.find('\t')));
    if (line.empty() || line.starts_with('#')) {
      continue;
    }
    list_bytes += line.size();
    if (addresses.size() >= kMaxAddresses || list_bytes > kMaxAddressListBytes) {
      Complain(name + " holds more than " +
               (addresses.size() >= kMaxAddresses
                    ? std::to_string(kMaxAddresses) + " addresses"
                    : std::to_string(kMaxAddressListBytes >> 20U) + " MiB of addresses"));
      return false;
    }
    addresses.emplace_back(line);
  }
  return true;
}

}  // namespace

bool ReadAddressFiles(const std::vector<std::string>& files, std::vector<std::string>& addresses) {
  std::size_t list_bytes = 0;
  for (const std::string& address : addresses) {
    list_bytes += address.size();
  }
  for (const std::string& name : files) {
    if (name == "-") {
      std::cin.clear();
      const bool read = ReadAddressLines(std::cin, "standard input", addresses, list_bytes);
      // Standard input is read through stdio, which reports an error there
      // rather than to the stream.
      if (read && std::ferror(stdin) != 0) {
        Complain("cannot read standard input");
        return false;
      }
      if (!read) {
        return false;
      }
      continue;
    }
    errno = 0;
    std::ifstream file(name, std::ios::binary);
    if (!file.is_open()) {
      Complain("cannot read " + name + ": " + std::strerror(errno != 0 ? errno : ENOENT));
      return false;
    }
    if (!ReadAddressLines(file, name, addresses, list_bytes)) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> AddressProblem(const std::string& address) {
  if (IsAddress(address)) {
    return std::nullopt;
  }
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(address, error);
  if (!error && std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
    return std::nullopt;
  }
  std::string problem = "not an address or a file: " + address;
  // "example.com/comic/1.html": most likely an address copied without its
  // scheme. A path ("/...", "./...") or another scheme gets no such hint.
  const bool bare_host = !address.empty() &&
                         (text::IsAsciiLetter(address.front()) ||
                          (address.front() >= '0' && address.front() <= '9')) &&
                         address.find("://") == std::string::npos;
  if (bare_host) {
    problem += " (did you mean http://" + address + "?)";
  }
  return problem;
}

}  // namespace vexel::cli
