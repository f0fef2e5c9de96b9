// cartlink-virtual's option values: numbers, flash chip options and every cartridge kind's
// build with fuzzed options. Input: lines "name=value". Options that name files are left out:
// the fuzzer must not read the machine's files.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/flash_chip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vdev::CartridgeOptions options;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) options[line.substr(0, equals)] = line.substr(equals + 1);
    uint64_t value = 0;
    vdev::parse_option_number(line, value);
    at = end + 1;
  }

  std::string error;
  for (const auto& [name, value] : options) {
    uint64_t number = 0;
    const uint64_t max = value.size() % 2 ? UINT32_MAX : 0xFFFF;
    if (vdev::option_number(options, name, number, error, max) && number > max) std::abort();
  }
  vdev::FlashChipConfig config;
  // A chip built from accepted options works; the largest ones are left unbuilt for speed.
  if (vdev::flash_chip_options(options, config, error) && config.size <= (1u << 20)) {
    vdev::FlashChip chip(config);
    const uint32_t unlock1 = config.word_mode ? 0x555 : 0xAAA;
    const uint32_t unlock2 = config.word_mode ? 0x2AA : 0x555;
    for (const uint8_t command : {0x90, 0x80}) {
      chip.write(unlock1, 0xAA);
      chip.write(unlock2, 0x55);
      chip.write(unlock1, command);
    }
    for (uint32_t i = 0; i < 8; ++i) chip.read(i * 0x1001);
    chip.tick();
  }

  for (const auto& kind : vdev::cartridge_kinds()) {
    vdev::CartridgeOptions usable;
    for (const auto& option : kind.options) {
      auto it = options.find(option.name);
      if (it != options.end() && std::string(option.value) != "FILE") usable.insert(*it);
    }
    vdev::Device device;
    error.clear();
    if (!kind.build(device, usable, error) && error.empty()) std::abort();  // refused, unsaid
  }
  return 0;
}
