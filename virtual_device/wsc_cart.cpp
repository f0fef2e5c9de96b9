#include "virtual_device/wsc_cart.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

namespace vdev {

namespace {

constexpr uint8_t kFamily = 10;
constexpr uint32_t kSpaceMask = WscCartridge::kSpace - 1;

// The device's own reading of the family's packets.
enum Sub : uint8_t {
  kIdentity = 1,
  kRead = 4,
  kWrite = 6,
  kWriteWord = 7,
  kWriteByte = 9,
  kProtected10 = 10,
  kProtected11 = 11,
  kProtected12 = 12,
  kRead15 = 15,
  kWrite16 = 16,
};

constexpr uint32_t kPayload = 9;       // bytes 9..508 in the narrow forms
constexpr uint32_t kPayloadWide = 16;  // sub-command 16
constexpr uint32_t kCipherBlock = 8;

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }

uint8_t pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>((offset >> 12) + (offset >> 4) * 5 + offset);
}

uint8_t byte_of(uint16_t word, uint32_t address) {
  return static_cast<uint8_t>((address & 1) ? word >> 8 : word);
}

}  // namespace

WscCartridge::WscCartridge(const DeviceConfig& device, WscCartConfig config)
    : device_(device), flash_(config.flash) {
  auto& cells = flash_.bytes();
  if (config.rom.empty()) {
    for (uint32_t i = 0; i < cells.size(); ++i) cells[i] = pattern_byte(i);
  } else {
    std::copy_n(config.rom.begin(), std::min(config.rom.size(), cells.size()), cells.begin());
  }
}

bool WscCartridge::takes(uint8_t family) const { return family == kFamily; }

bool WscCartridge::takes_plain() const {
  return std::string_view(device_.identity).starts_with(kPlainBoardPrefix);
}

uint8_t WscCartridge::read(uint32_t address) {
  address &= kSpaceMask;
  return byte_of(flash_.read_word(address >> 1), address);
}

uint8_t WscCartridge::peek(uint32_t address) const {
  address &= kSpaceMask;
  return byte_of(flash_.peek_word(address >> 1), address);
}

void WscCartridge::store(uint32_t address, uint8_t value) {
  address &= kSpaceMask;
  const auto word = static_cast<uint16_t>((address & 1) ? (value << 8) | 0xFF : 0xFF00 | value);
  flash_.write_word(0x555, 0xAA);
  flash_.write_word(0x2AA, 0x55);
  flash_.write_word(0x555, 0xA0);
  flash_.write_word(address >> 1, word);
}

void WscCartridge::read_into_reply(uint32_t address, uint32_t length, uint32_t limit,
                                   SlotHost& host) {
  auto reply = host.reply();
  std::fill(reply.begin(), reply.end(), 0);
  const uint32_t n = std::min<uint32_t>({length, limit, static_cast<uint32_t>(reply.size())});
  for (uint32_t i = 0; i < n; ++i) reply[i] = read(address + i);
}

void WscCartridge::carry_out(const uint8_t* p, SlotHost& host) {
  const auto store_block = [&](uint32_t address, const uint8_t* data, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) store(address + i, data[i]);
  };
  switch (p[2]) {
    case kIdentity:
      host.set_identified();
      break;
    case kRead:
      read_into_reply(le32(p + 3), le16(p + 7), 2048, host);
      break;
    case kRead15:
      read_into_reply(le32(p + 4), le16(p + 8), 128, host);
      break;
    case kWriteWord:
      // A bus cycle: the chip decodes the word offset, the command in the low byte.
      flash_.write_word((le32(p + 3) & kSpaceMask) >> 1, static_cast<uint16_t>(le16(p + 9)));
      break;
    case kWriteByte: {
      const uint32_t address = le32(p + 3) & kSpaceMask;
      const uint8_t v = p[9];
      flash_.write_word(address >> 1,
                        static_cast<uint16_t>((address & 1) ? (v << 8) | 0xFF : 0xFF00 | v));
      break;
    }
    case kWrite:
      store_block(le32(p + 3), p + kPayload, std::min<uint32_t>(le16(p + 7), 500));
      break;
    case kWrite16:
      store_block(le32(p + 4), p + kPayloadWide, std::min<uint32_t>(le16(p + 8), 128));
      break;
    case kProtected10:
    case kProtected11:
    case kProtected12: {
      const uint32_t limit = p[2] == kProtected12 ? 480 : 500;
      uint8_t data[500];
      std::memcpy(data, p + kPayload, sizeof data);
      if (!takes_plain()) payload_decrypt(host.device_cipher(), data, kCipherBlock);
      store_block(le32(p + 3), data, std::min(le16(p + 7), limit));
      break;
    }
    default:
      break;  // not a sub-command this device knows
  }
}

void WscCartridge::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) out[i] = peek(static_cast<uint32_t>(offset + i));
}

std::vector<NamedMemory> WscCartridge::memories() { return {{"wsc_flash", &flash_.bytes()}}; }

bool build_wsc(Device& device, const CartridgeOptions& options, std::string& error) {
  WscCartConfig config;
  if (!flash_chip_options(options, config.flash, error)) return false;
  if (config.flash.size > WscCartridge::kSpace) {
    error = "--chip-size: the WSC flash takes at most 1M (the whole space)";
    return false;
  }
  if (!option_file(options, "rom", "ROM", config.rom, error, 1, config.flash.size)) return false;
  config.flash.word_mode = true;
  device.insert(std::make_unique<WscCartridge>(device.config(), std::move(config)));
  return true;
}

}  // namespace vdev
