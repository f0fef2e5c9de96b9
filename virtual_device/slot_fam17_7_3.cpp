// The cartridges of families 17 (24-bit writes by command, reads through "DUMP.ROM"), 7
// (24-bit read-only bus) and 3 (32-bit read-only address space).
#include <algorithm>
#include <cstdint>

#include "virtual_device/device.h"
#include "virtual_device/slot_fams.h"

namespace vdev {

namespace {

constexpr uint8_t kFam17ByteWrite = 2;
constexpr uint8_t kFam7Read = 2;
constexpr uint8_t kFam3BlockRead = 18;
constexpr uint32_t kReadMax = 8192;

uint32_t le24(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)); }
uint32_t le32(const uint8_t* p) { return le24(p) | (uint32_t{p[3]} << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void read_into_reply(const BusMemory& memory, uint64_t address, uint16_t length, SlotHost& host,
                     uint64_t wrap) {
  auto reply = host.reply();
  std::fill(reply.begin(), reply.end(), uint8_t{0});
  const uint32_t n = std::min<uint32_t>(length, kReadMax);
  for (uint32_t i = 0; i < n; ++i) reply[i] = memory.read((address + i) & (wrap - 1));
}

}  // namespace

void Fam17Cartridge::carry_out(const uint8_t* p, SlotHost&) {
  if (p[2] != kFam17ByteWrite) return;  // the start, and anything unknown, change nothing
  const uint32_t address = le24(p + 3);
  const uint8_t value = p[6];
  memory_.write(address, value);
  if (writes_.size() == kWriteLogMax) writes_.pop_front();
  writes_.emplace_back(address, value);
}

void Fam7Cartridge::carry_out(const uint8_t* p, SlotHost& host) {
  if (p[2] == kFam7Read) read_into_reply(rom_, le24(p + 3), le16(p + 6), host, uint64_t{1} << 24);
}

void Fam3Cartridge::carry_out(const uint8_t* p, SlotHost& host) {
  if (p[2] == kFam3BlockRead) {
    read_into_reply(rom_, le32(p + 4), le16(p + 8), host, uint64_t{1} << 32);
  }
}

std::vector<uint8_t> pattern_memory(uint64_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint64_t a = 0; a < size; ++a) {
    bytes[a] = static_cast<uint8_t>(a ^ (a >> 8) * 3 ^ (a >> 16) * 7 ^ (a >> 24) * 13);
  }
  return bytes;
}

bool slot_memory(const CartridgeOptions& options, uint64_t size, std::vector<uint8_t>& memory,
                 std::string& error) {
  std::vector<uint8_t> file;
  if (!option_file(options, "rom", "ROM", file, error, 1, size)) return false;
  if (options.count("rom") == 0) {
    memory = pattern_memory(size);
  } else {
    memory.assign(size, 0xFF);
    std::copy(file.begin(), file.end(), memory.begin());
  }
  return true;
}

namespace {

template <typename T>
bool build_plain(Device& device, const CartridgeOptions& options, std::string& error,
                 uint64_t size) {
  std::vector<uint8_t> memory;
  if (!slot_memory(options, size, memory, error)) return false;
  device.insert(std::make_unique<T>(std::move(memory)));
  return true;
}

}  // namespace

bool build_fam17(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_plain<Fam17Cartridge>(device, options, error, Fam17Cartridge::kSize);
}

bool build_fam7(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_plain<Fam7Cartridge>(device, options, error, kFam7Size);
}

bool build_fam3(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_plain<Fam3Cartridge>(device, options, error, kFam3Size);
}

bool build_fam19(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_plain<Fam19Cartridge>(device, options, error, kFam19Size);
}

bool build_fam2(Device& device, const CartridgeOptions& options, std::string& error) {
  return build_plain<Fam2Cartridge>(device, options, error, Fam2Cartridge::kSize);
}

}  // namespace vdev
