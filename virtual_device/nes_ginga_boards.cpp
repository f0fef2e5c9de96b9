// Two small boards of the library's probe and dump jobs: the "Ginga no Sannin" cartridge,
// whose bank contents the board makes itself so that each bank has the checksum the dump job
// expects, and a board with a serially loaded register whose value the device reports as the
// misc byte.
#include <array>
#include <string>

#include "virtual_device/cartridges.h"
#include "virtual_device/device.h"
#include "virtual_device/nes_boards.h"

namespace vdev {

namespace {

constexpr uint32_t kBankSize = 0x4000;
constexpr uint32_t kBanks = 8;
constexpr uint32_t kBankCrc[kBanks] = {0x15B94B55, 0x3177C9C6, 0x7BC8A4BE, 0x23347AA0,
                                       0x468291BE, 0x46613D07, 0x680E2D5E, 0xE2670EEA};

std::array<uint32_t, 256> crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

// Fills `bank` with made-up data whose CRC-32 is `target`. CRC-32 is linear: the register
// after four more bytes depends on (register XOR those bytes) alone, so walking back from the
// wanted register gives the four bytes that reach it.
void make_bank(uint8_t* bank, uint32_t seed, uint32_t target) {
  static const std::array<uint32_t, 256> table = crc_table();
  uint32_t x = seed * 2654435761u + 12345u;
  for (uint32_t i = 0; i < kBankSize - 4; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bank[i] = static_cast<uint8_t>(x);
  }
  uint32_t state = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < kBankSize - 4; ++i)
    state = (state >> 8) ^ table[(state ^ bank[i]) & 0xFF];
  uint32_t back = ~target;
  for (int step = 0; step < 4; ++step) {
    uint32_t j = 0;
    while ((table[j] >> 24) != (back >> 24)) ++j;  // the table's top bytes are all distinct
    back = ((back ^ table[j]) << 8) | j;
  }
  const uint32_t tail = back ^ state;
  for (uint32_t k = 0; k < 4; ++k) bank[kBankSize - 4 + k] = static_cast<uint8_t>(tail >> (8 * k));
}

// 128 KiB of PRG ROM in eight 16 KiB banks: bank 7 fixed at $C000, a write to $FFF0 + i
// switching bank i (low 3 bits) in at $8000.
class GingaBoard : public NesBoard {
 public:
  GingaBoard(uint32_t flaky_bank, uint32_t flaky_reads, bool wrong_cartridge)
      : prg_(kBanks * kBankSize), flaky_bank_(flaky_bank), flaky_left_(flaky_reads) {
    for (uint32_t b = 0; b < kBanks; ++b) make_bank(prg_.data() + b * kBankSize, b, kBankCrc[b]);
    if (wrong_cartridge) prg_[(kBanks - 1) * kBankSize + 100] ^= 0x5A;
  }
  uint8_t cpu_read(uint16_t a) override { return cpu_peek(a); }
  uint8_t cpu_peek(uint16_t a) override {
    if (a < 0x8000) return 0xFF;
    const uint32_t bank = a >= 0xC000 ? kBanks - 1 : bank_;
    uint8_t v = prg_[bank * kBankSize + (a & 0x3FFF)];
    // A worn contact: the bank reads one byte wrong until its switches have been used up.
    if (bank == flaky_bank_ && a < 0xC000 && reading_wrong_ && (a & 0x3FFF) == 0x1234) v ^= 0x10;
    return v;
  }
  void cpu_write(uint16_t a, uint8_t value) override {
    if (a < 0xFFF0) return;
    bank_ = value & 7;
    reading_wrong_ = bank_ == flaky_bank_ && flaky_left_ > 0;
    if (reading_wrong_) --flaky_left_;
  }
  uint8_t ppu_read(uint16_t) override { return 0xFF; }
  void ppu_write(uint16_t, uint8_t) override {}
  std::vector<NamedMemory> memories() override { return {{"prg", &prg_}}; }

 private:
  std::vector<uint8_t> prg_;
  uint32_t bank_ = 0;
  uint32_t flaky_bank_;
  uint32_t flaky_left_;
  bool reading_wrong_ = false;
};

// A write with bit 7 set to $8000-$FFFF resets the shift register; otherwise bit 0 of five
// writes, lowest first, loads it, and the loaded value is what the device reports.
class SerialRegisterBoard : public NesBoard {
 public:
  uint8_t cpu_read(uint16_t) override { return 0xFF; }
  void cpu_write(uint16_t a, uint8_t value) override {
    if (a < 0x8000) return;
    if (value & 0x80) {
      shift_ = 0;
      count_ = 0;
      return;
    }
    shift_ = static_cast<uint8_t>(shift_ | ((value & 1) << count_));
    if (++count_ == 5) {
      loaded_ = shift_;
      shift_ = 0;
      count_ = 0;
    }
  }
  uint8_t ppu_read(uint16_t) override { return 0xFF; }
  void ppu_write(uint16_t, uint8_t) override {}
  std::optional<uint8_t> misc_byte() override { return loaded_; }

 private:
  uint8_t shift_ = 0;
  uint8_t count_ = 0;
  uint8_t loaded_ = 0;
};

}  // namespace

bool build_ginga(Device& device, const CartridgeOptions& options, std::string& error) {
  uint64_t flaky_bank = kBanks, flaky_reads = 0;
  bool wrong = false;
  if (!option_number(options, "flaky-bank", flaky_bank, error, kBanks - 2) ||
      !option_number(options, "flaky-reads", flaky_reads, error, 1000000) ||
      !option_flag(options, "wrong-cartridge", wrong, error)) {
    return false;
  }
  device.insert_nes(std::make_unique<GingaBoard>(static_cast<uint32_t>(flaky_bank),
                                                 static_cast<uint32_t>(flaky_reads), wrong));
  return true;
}

bool build_serial_register(Device& device, const CartridgeOptions&, std::string&) {
  device.insert_nes(std::make_unique<SerialRegisterBoard>());
  return true;
}

}  // namespace vdev
