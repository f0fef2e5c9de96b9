#include "virtual_device/n64_slot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
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
// One board kind answers bus reads of at most this many bytes; the rest of the reply stays 0.
constexpr uint32_t kSmallReadBoardMax = 2048;
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
constexpr uint8_t kNothing = 0xFF;  // what a memory that is not there reads as

// Boards and the firmware numbers from which they change their dialect.
constexpr std::string_view kCipherBoard = "N64_HWRKB_FW";
constexpr std::string_view kQ3Board = "N64_Q3";
constexpr std::string_view kSmallReadBoard = "N64_Q3V6";
constexpr uint32_t kPlainFrom = 400;

// The command addresses of the device's program algorithm (words 0x555 and 0x2AA).
constexpr uint32_t kUnlock1 = kN64WindowBase + 0xAAA;
constexpr uint32_t kUnlock2 = kN64WindowBase + 0x554;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t number_after(std::string_view text) {
  std::string digits(text.substr(0, text.find('\0')));
  return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
}

// Writes are whole bus words: address bit 0 is not wired for them, so the bytes go in pairs
// from the word that holds the address; a lone last byte goes with the low half 0xFF.
uint16_t pair_at(const uint8_t* data, uint32_t i, uint32_t count) {
  return static_cast<uint16_t>(data[i] << 8 | (i + 1 < count ? data[i + 1] : 0xFF));
}

}  // namespace

bool N64SlotCartridge::takes(uint8_t family) const { return family == kFamily; }

N64SlotCartridge::Dialect N64SlotCartridge::dialect(const SlotHost& host) {
  const DeviceConfig& c = host.config();
  const std::string_view id = c.identity;
  if (id.substr(0, kCipherBoard.size()) == kCipherBoard) {
    const uint32_t firmware = c.firmware ? static_cast<uint32_t>(*c.firmware)
                                         : number_after(id.substr(kCipherBoard.size()));
    return {firmware < kPlainFrom, firmware >= kPlainFrom, kBusReadMax};
  }
  if (id.substr(0, kSmallReadBoard.size()) == kSmallReadBoard) {
    return {false, true, kSmallReadBoardMax};
  }
  if (id.substr(0, kQ3Board.size()) == kQ3Board) return {false, true, kBusReadMax};
  return {false, false, kBusReadMax};
}

void N64SlotCartridge::program_word(uint32_t address, uint16_t value) {
  bus_write_word(kUnlock1, 0xAA);
  bus_write_word(kUnlock2, 0x55);
  bus_write_word(kUnlock1, 0xA0);
  bus_write_word(address, value);
}

void N64SlotCartridge::bus_read(uint32_t address, uint8_t* out, uint32_t count) {
  uint16_t word = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    // One bus cycle per word, as the device reads them; the even byte is the high one.
    if (i == 0 || (a & 1) == 0) word = bus_read_word(a & ~1u);
    out[i] = static_cast<uint8_t>((a & 1) ? word : word >> 8);
  }
}

void N64SlotCartridge::bus_write(uint32_t address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; i += 2) {
    bus_write_word((address & ~1u) + i, pair_at(data, i, count));
  }
}

// Firmware that ciphers takes the chunk exchanged in pairs with its first block enciphered,
// padding included, and undoes both before programming.
void N64SlotCartridge::program(uint32_t address, const uint8_t* packet, uint32_t max,
                               SlotHost& host) {
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
    program_word((address & ~1u) + i, pair_at(data.data(), i, n));
  }
}

void N64SlotCartridge::page_command(const uint8_t* p, SlotHost& host) {
  auto reply = host.reply();
  std::vector<uint8_t>& pages = paged_memory();
  const auto size = static_cast<uint32_t>(pages.size());
  const bool addressed = dialect(host).addressed;
  if (p[2] == kPageRead) {
    std::fill(reply.begin(), reply.end(), 0);
    const uint32_t first = addressed ? le32(p + kWideAddress) : (p[kPageByte] & 3u) * kPage;
    const uint32_t n =
        addressed ? std::min<uint32_t>(le16(p + kWideLength), kAddressedReadMax) : kPagedReply;
    for (uint32_t i = 0; i < n; ++i) reply[i] = size ? pages[(first + i) % size] : kNothing;
    return;
  }
  if (size == 0) return;
  if (addressed) {
    const uint32_t first = le32(p + kWideAddress);
    const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kAddressedWriteMax);
    for (uint32_t i = 0; i < n; ++i) pages[(first + i) % size] = p[kWideData + i];
  } else {
    const uint32_t first = (p[kPageByte] & 3u) * kPage + (p[kHalfByte] & 1u) * kHalfPage;
    for (uint32_t i = 0; i < kHalfPage; ++i) pages[(first + i) % size] = p[kWideData + i];
  }
}

void N64SlotCartridge::save_command(const uint8_t* p, SlotHost& host) {
  auto reply = host.reply();
  const ProbedMemory memory = probed_memory();
  const uint64_t size = memory.bytes ? memory.bytes->size() : 0;
  const bool ours = p[kSelector] == memory.selector;
  const uint32_t address = le32(p + kWideAddress);
  // The cell a byte of the chunk reaches, or none.
  auto cell = [&](uint32_t i) -> uint8_t* {
    const uint64_t at = uint64_t{address} + i;
    if (size == 0 || (!memory.wraps && at >= size)) return nullptr;
    return &(*memory.bytes)[at % size];
  };
  switch (p[2]) {
    case kProbe:
      std::fill(reply.begin(), reply.end(), 0);
      reply[0] = memory.selector;
      std::copy(memory.id.begin(), memory.id.end(), reply.begin() + 1);
      break;
    case kStatus:
      std::fill(reply.begin(), reply.end(), 0);
      reply[0] = ours && memory.ready && size != 0 ? 1 : 0;
      break;
    case kReadStart:
      ++read_starts_;
      break;
    case kWriteStart:
      ++write_starts_;
      break;
    case kReadChunk: {
      // A packet for another memory reads as an empty bus.
      std::fill(reply.begin(), reply.end(), kNothing);
      if (!ours) {
        ++refused_;
        break;
      }
      const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kSaveReadMax);
      for (uint32_t i = 0; i < n; ++i) {
        if (const uint8_t* c = cell(i)) reply[i] = *c;
      }
      break;
    }
    case kWriteChunk: {
      if (!ours) {
        ++refused_;
        break;
      }
      const uint32_t n = std::min<uint32_t>(le16(p + kWideLength), kSaveWriteMax);
      for (uint32_t i = 0; i < n; ++i) {
        if (uint8_t* c = cell(i)) *c = p[kWideData + i];
      }
      break;
    }
    default:
      break;
  }
}

void N64SlotCartridge::carry_out(const uint8_t* p, SlotHost& host) {
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
      bus_read(address, reply.data(),
               std::min<uint32_t>(le16(p + kBusLength), dialect(host).read_max));
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

}  // namespace vdev
