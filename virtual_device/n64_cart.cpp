#include "virtual_device/n64_cart.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "link/cipher.h"
#include "virtual_device/device.h"

namespace vdev {

namespace {

// The device's view of family 16: packet fields as its firmware reads them.
constexpr uint8_t kFamily = 16;
enum Sub : uint8_t {
  kIdentity = 1,
  kSetAddress = 2,
  kBusRead = 3,
  kBusWrite = 4,
  kProgram = 5,
  kProgram480 = 7,
  kPageRead = 8,
  kPageWrite = 9,
  kProbe = 10,
  kStatus = 11,
  kReadStart = 12,
  kReadChunk = 13,
  kWriteStart = 14,
  kWriteChunk = 15,
};
// Sub-commands 2 to 7: address at byte 3, length at 7, data from 9.
constexpr uint32_t kBusAddress = 3;
constexpr uint32_t kBusLength = 7;
constexpr uint32_t kBusData = 9;
// Sub-commands 8, 9, 13 and 15: selector at 3, address at 4, length at 8, data from 12.
constexpr uint32_t kSelector = 3;
constexpr uint32_t kWideAddress = 4;
constexpr uint32_t kWideLength = 8;
constexpr uint32_t kWideData = 12;
constexpr uint32_t kPageByte = 8;
constexpr uint32_t kHalfByte = 5;

constexpr uint32_t kBusReadMax = 8192;
constexpr uint32_t kBusWriteMax = 500;
constexpr uint32_t kProgram480Max = 480;
constexpr uint32_t kPage = 512;
constexpr uint32_t kPagedReply = 1024;
constexpr uint32_t kHalfPage = 256;
constexpr uint32_t kAddressedReadMax = 2048;
constexpr uint32_t kAddressedWriteMax = 448;
constexpr uint32_t kSaveReadMax = 2048;
constexpr uint32_t kSaveWriteMax = 384;
constexpr uint32_t kDataArea = 510 - kBusData;  // bytes 9..509
constexpr uint32_t kCipherBlock = 8;

constexpr uint32_t kWindowBase = 0x10000000;
constexpr uint32_t kWindowEnd = 0x14000000;
constexpr uint32_t kWindowMask = 0x3FFFFFF;
constexpr uint8_t kOpenBus = 0xFF;

// Boards and the firmware numbers from which they change their dialect.
constexpr std::string_view kCipherBoard = "N64_HWRKB_FW";
constexpr std::string_view kQ3Board = "N64_Q3";
constexpr uint32_t kPlainFrom = 400;

// Flash command cycles of the device's program algorithm, at word addresses.
constexpr uint32_t kUnlock1 = 0x555;
constexpr uint32_t kUnlock2 = 0x2AA;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

bool in_window(uint32_t address) { return address >= kWindowBase && address < kWindowEnd; }
uint32_t word_of(uint32_t address) { return (address & kWindowMask) >> 1; }

uint32_t number_after(std::string_view text) {
  std::string digits(text.substr(0, text.find('\0')));
  return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
}

}  // namespace

uint8_t n64_pattern_byte(uint32_t offset) {
  return static_cast<uint8_t>(offset * 7 + (offset >> 8) * 3 + (offset >> 16) * 5 +
                              (offset >> 24) * 11);
}

N64Cart::N64Cart(N64CartConfig config)
    : config_(std::move(config)),
      flash_(config_.chip),
      pages_(std::max<uint32_t>(config_.page_memory_size, 1), 0xFF),
      save_(std::max<uint32_t>(config_.save_size, 1), 0xFF) {
  // The chip keeps words little-endian; the bus takes the even byte as the high one.
  auto& cells = flash_.bytes();
  const size_t size = cells.size();
  if (config_.rom.empty()) {
    for (size_t i = 0; i < size; ++i) cells[i ^ 1] = n64_pattern_byte(static_cast<uint32_t>(i));
  } else {
    const size_t n = std::min(config_.rom.size(), size);
    for (size_t i = 0; i < n; ++i) cells[i ^ 1] = config_.rom[i];
  }
}

bool N64Cart::takes(uint8_t family) const { return family == kFamily; }

N64Cart::Dialect N64Cart::dialect(const SlotHost& host) {
  const DeviceConfig& c = host.config();
  const std::string_view id = c.identity;
  if (id.substr(0, kCipherBoard.size()) == kCipherBoard) {
    const uint32_t firmware = c.firmware ? static_cast<uint32_t>(*c.firmware)
                                         : number_after(id.substr(kCipherBoard.size()));
    return {firmware < kPlainFrom, firmware >= kPlainFrom};
  }
  if (id.substr(0, kQ3Board.size()) == kQ3Board) return {false, true};
  return {false, false};
}

uint16_t N64Cart::bus_read_word(uint32_t address) {
  if (!in_window(address)) return static_cast<uint16_t>(kOpenBus << 8 | kOpenBus);
  return flash_.read_word(word_of(address));
}

void N64Cart::bus_write_word(uint32_t address, uint16_t value) {
  if (in_window(address)) flash_.write_word(word_of(address), value);
}

void N64Cart::bus_read(uint32_t address, uint8_t* out, uint32_t count) {
  uint16_t word = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    // One bus cycle per word, as the device reads them; the even byte is the high one.
    if (i == 0 || (a & 1) == 0) word = bus_read_word(a & ~1u);
    out[i] = static_cast<uint8_t>((a & 1) ? word : word >> 8);
  }
}

// Writes are whole bus words: address bit 0 is not wired for them, so the bytes go in pairs
// from the word that holds the address; a lone last byte goes with the low half 0xFF.
static uint16_t pair_at(const uint8_t* data, uint32_t i, uint32_t count) {
  return static_cast<uint16_t>(data[i] << 8 | (i + 1 < count ? data[i + 1] : 0xFF));
}

void N64Cart::bus_write(uint32_t address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; i += 2) {
    bus_write_word((address & ~1u) + i, pair_at(data, i, count));
  }
}

// The device's flash program command: for each word the unlock cycles, the program command
// and the word. Firmware that ciphers takes the chunk exchanged in pairs with its first block
// enciphered, padding included, and undoes both before programming.
void N64Cart::program(uint32_t address, const uint8_t* packet, uint32_t max, SlotHost& host) {
  const uint32_t n = std::min<uint32_t>(le16(packet + kBusLength), max);
  std::array<uint8_t, kDataArea + 1> data{};
  std::memcpy(data.data(), packet + kBusData, kDataArea);
  if (dialect(host).ciphered) {
    payload_decrypt(host.device_cipher(), data.data(), kCipherBlock);
    for (uint32_t k = 0; k + 1 < std::max(n + (n & 1), kCipherBlock); k += 2) {
      std::swap(data[k], data[k + 1]);
    }
  }
  for (uint32_t i = 0; i < n; i += 2) {
    const uint32_t a = (address & ~1u) + i;
    if (!in_window(a)) break;
    flash_.write_word(kUnlock1, 0xAA);
    flash_.write_word(kUnlock2, 0x55);
    flash_.write_word(kUnlock1, 0xA0);
    flash_.write_word(word_of(a), pair_at(data.data(), i, n));
  }
}

void N64Cart::page_command(const uint8_t* p, SlotHost& host) {
  auto reply = host.reply();
  const uint32_t size = static_cast<uint32_t>(pages_.size());
  const bool addressed = dialect(host).addressed;
  if (p[2] == kPageRead) {
    std::fill(reply.begin(), reply.end(), 0);
    const uint32_t first = addressed ? le32(p + kWideAddress) : (p[kPageByte] & 3u) * kPage;
    const uint32_t n =
        addressed ? std::min<uint32_t>(le16(p + kWideLength), kAddressedReadMax) : kPagedReply;
    for (uint32_t i = 0; i < n; ++i) reply[i] = pages_[(first + i) % size];
    return;
  }
  if (addressed) {
    const uint32_t first = le32(p + kWideAddress);
    const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kAddressedWriteMax);
    for (uint32_t i = 0; i < n; ++i) pages_[(first + i) % size] = p[kWideData + i];
  } else {
    const uint32_t first = (p[kPageByte] & 3u) * kPage + (p[kHalfByte] & 1u) * kHalfPage;
    for (uint32_t i = 0; i < kHalfPage; ++i) pages_[(first + i) % size] = p[kWideData + i];
  }
}

void N64Cart::save_command(const uint8_t* p, SlotHost& host) {
  auto reply = host.reply();
  const bool ours = p[kSelector] == config_.selector;
  const uint32_t address = le32(p + kWideAddress);
  switch (p[2]) {
    case kProbe:
      std::fill(reply.begin(), reply.end(), 0);
      reply[0] = config_.selector;
      std::copy(config_.save_id.begin(), config_.save_id.end(), reply.begin() + 1);
      break;
    case kStatus:
      std::fill(reply.begin(), reply.end(), 0);
      reply[0] = ours && config_.save_ready ? 1 : 0;
      break;
    case kReadStart:
      ++read_starts_;
      break;
    case kWriteStart:
      ++write_starts_;
      break;
    case kReadChunk: {
      // A packet for another memory reads as an empty bus.
      std::fill(reply.begin(), reply.end(), kOpenBus);
      if (!ours) {
        ++refused_;
        break;
      }
      const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kSaveReadMax);
      for (uint32_t i = 0; i < n && uint64_t{address} + i < save_.size(); ++i) {
        reply[i] = save_[address + i];
      }
      break;
    }
    case kWriteChunk: {
      if (!ours) {
        ++refused_;
        break;
      }
      const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kSaveWriteMax);
      for (uint32_t i = 0; i < n && uint64_t{address} + i < save_.size(); ++i) {
        save_[address + i] = p[kWideData + i];
      }
      break;
    }
    default:
      break;
  }
}

void N64Cart::carry_out(const uint8_t* p, SlotHost& host) {
  const uint32_t address = le32(p + kBusAddress);
  switch (p[2]) {
    case kIdentity:
      host.set_identified();
      break;
    case kSetAddress:
      address_register_ = address;
      break;
    case kBusRead: {
      auto reply = host.reply();
      std::fill(reply.begin(), reply.end(), 0);
      bus_read(address, reply.data(), std::min<uint32_t>(le16(p + kBusLength), kBusReadMax));
      break;
    }
    case kBusWrite:
      bus_write(address, p + kBusData, std::min<uint32_t>(le16(p + kBusLength), kBusWriteMax));
      break;
    case kProgram:
      program(address, p, kBusWriteMax, host);
      break;
    case kProgram480:
      program(address, p, kProgram480Max, host);
      break;
    case kPageRead:
    case kPageWrite:
      page_command(p, host);
      break;
    case kProbe:
    case kStatus:
    case kReadStart:
    case kReadChunk:
    case kWriteStart:
    case kWriteChunk:
      save_command(p, host);
      break;
    default:
      ++refused_;  // not a sub-command this device knows: ignored
      break;
  }
}

uint8_t N64Cart::rom_byte(uint32_t offset) const {
  const uint16_t word = flash_.peek_word((offset & kWindowMask) >> 1);
  return static_cast<uint8_t>((offset & 1) ? word : word >> 8);
}

void N64Cart::dump(uint64_t offset, uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = offset + i;
    out[i] = at < kWindowSize ? rom_byte(static_cast<uint32_t>(at)) : kOpenBus;
  }
}

std::vector<NamedMemory> N64Cart::memories() {
  const size_t size = flash_.bytes().size();
  rom_image_.resize(size);
  for (size_t i = 0; i < size; ++i) rom_image_[i] = flash_.bytes()[i ^ 1];
  return {{"N64_ROM", &rom_image_}, {"N64_PAGES", &pages_}, {"N64_SAVE", &save_}};
}

}  // namespace vdev

namespace vdev {

namespace {
bool parse_id(const std::string& text, std::array<uint8_t, 8>& id) {
  if (text.size() != 16) return false;
  for (size_t i = 0; i < 8; ++i) {
    uint64_t v = 0;
    if (!parse_option_number("0x" + text.substr(2 * i, 2), v)) return false;
    id[i] = static_cast<uint8_t>(v);
  }
  return true;
}
}  // namespace

const std::vector<CartridgeOption>& n64_option_list() {
  static const std::vector<CartridgeOption> list = join_options(
      {{"rom", "FILE", "cartridge ROM as .z64, up to the chip size (default: a pattern)"},
       {"pages", "FILE", "paged save memory (sub-commands 8, 9), up to 2 KiB"},
       {"save", "FILE", "probed save memory contents, up to --save-size"},
       {"save-size", "SIZE", "probed save memory size (default 128K)"},
       {"selector", "N", "memory selector the probe answers (default 3)"},
       {"save-id", "HEX", "the probe's 8 identification bytes as 16 hex digits"},
       {"save-ready", "yes|no", "the status bit of the probed memory (default yes)"}},
      flash_chip_option_list());
  return list;
}

bool build_n64(Device& device, const CartridgeOptions& options, std::string& error) {
  N64CartConfig config;
  if (!flash_chip_options(options, config.chip, error)) return false;
  config.chip.word_mode = true;
  if (config.chip.size > N64Cart::kWindowSize) {
    error = "--chip-size: the N64 ROM window holds at most 64M";
    return false;
  }
  uint64_t save_size = config.save_size;
  uint64_t selector = config.selector;
  std::vector<uint8_t> pages, save;
  if (!option_file(options, "rom", "N64 ROM", config.rom, error, 1, config.chip.size) ||
      !option_number(options, "save-size", save_size, error, 0x1000000) ||
      !option_file(options, "pages", "paged save memory", pages, error, 1,
                   config.page_memory_size) ||
      !option_number(options, "selector", selector, error, 0xFF) ||
      !option_flag(options, "save-ready", config.save_ready, error)) {
    return false;
  }
  if (save_size == 0) {
    error = "--save-size: give at least 1 byte";
    return false;
  }
  config.save_size = static_cast<uint32_t>(save_size);
  config.selector = static_cast<uint8_t>(selector);
  if (!option_file(options, "save", "probed save memory", save, error, 1, save_size)) return false;
  if (auto it = options.find("save-id");
      it != options.end() && !parse_id(it->second, config.save_id)) {
    error = "--save-id '" + it->second + "': give 16 hex digits";
    return false;
  }
  auto cart = std::make_unique<N64Cart>(std::move(config));
  std::copy(pages.begin(), pages.end(), cart->page_memory().begin());
  std::copy(save.begin(), save.end(), cart->save_memory().begin());
  device.insert(std::move(cart));
  return true;
}

}  // namespace vdev
