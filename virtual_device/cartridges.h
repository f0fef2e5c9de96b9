// The one table of cartridge kinds: cartlink-virtual's --help and --cartridge read it, and so
// can tests. A new board kind adds its own file and one row to the table in cartridges.cpp.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vdev {

class Device;

// "--NAME VALUE": one option of a cartridge kind, as --help shows it.
struct CartridgeOption {
  const char* name;   // without the dashes
  const char* value;  // what the value is, e.g. "FILE", "SIZE"
  const char* help;   // one line
};

// Option values by name, as given on the command line.
using CartridgeOptions = std::map<std::string, std::string>;

struct CartridgeKind {
  const char* name;
  const char* description;  // one line
  std::vector<CartridgeOption> options;
  // Puts a cartridge of this kind into the device; false with `error` set when an option's
  // value is unusable (nothing is inserted then).
  bool (*build)(Device& device, const CartridgeOptions& options, std::string& error);
};

const std::vector<CartridgeKind>& cartridge_kinds();
const CartridgeKind* find_cartridge_kind(std::string_view name);

// Concatenates option lists, for rows that offer shared options (the flash chip's) too.
std::vector<CartridgeOption> join_options(std::vector<CartridgeOption> a,
                                          const std::vector<CartridgeOption>& b);

// Option helpers. An absent option leaves `out` as it is and succeeds.
// Numbers: decimal or 0x hex, with an optional K or M (KiB, MiB) suffix; at most `max`.
bool option_number(const CartridgeOptions& options, const std::string& name, uint64_t& out,
                   std::string& error, uint64_t max = UINT32_MAX);
// A whole regular file of `min` to `max` bytes; `what` names it in messages ("PRG ROM").
bool option_file(const CartridgeOptions& options, const std::string& name, const std::string& what,
                 std::vector<uint8_t>& out, std::string& error, uint64_t min, uint64_t max);
// "1", "yes", "on" or "0", "no", "off".
bool option_flag(const CartridgeOptions& options, const std::string& name, bool& out,
                 std::string& error);
// The text form of option_number, for other parsers (no suffix check against a maximum).
bool parse_option_number(std::string_view text, uint64_t& out);

}  // namespace vdev
