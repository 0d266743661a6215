// The addresses vexel-dl is given: read from -i files a line at a time within
// fixed limits, so that no input (/dev/zero, a runaway producer) can fill the
// memory, and checked to be addresses or files before any download begins.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vexel::cli {

// No address comes near these; an input past them is not a list of addresses.
inline constexpr std::size_t kMaxAddressLineBytes = std::size_t{64} * 1024;
inline constexpr std::size_t kMaxAddresses = 100000;
// All addresses together: otherwise the two limits above would still let
// 6 GiB in.
inline constexpr std::size_t kMaxAddressListBytes = std::size_t{64} * 1024 * 1024;

// Adds the addresses of each -i file ("-": standard input) to `addresses`:
// one a line, blank lines and lines that start with "#" skipped, each line
// cut at its first tab (where `vexel-dl chapters` puts the title) and
// trimmed. False, with one line printed, when a file cannot be read or
// passes a limit above, or when a line holds a control character other than
// the tab (a NUL would cut the address short, an escape would reach the
// terminal).
bool ReadAddressFiles(const std::vector<std::string>& files, std::vector<std::string>& addresses);

// Why `address` cannot be downloaded from: "not an address or a file: ..."
// when it is neither an http(s) or file:// address nor an existing file,
// with a hint when it looks like an address without its scheme. Nothing when
// it can be loaded.
std::optional<std::string> AddressProblem(const std::string& address);

}  // namespace vexel::cli
