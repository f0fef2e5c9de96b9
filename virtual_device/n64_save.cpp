#include "virtual_device/n64_save.h"

#include <algorithm>

namespace vdev {

namespace {

constexpr uint32_t kSramBank = 0x8000;
constexpr uint32_t kSramBankShift = 18;
constexpr uint32_t kSramBanks = 3;

constexpr uint32_t kFlashDecode = N64FlashSave::kSize - 1;  // A0-A16
constexpr uint32_t kCommandHigh = 0x10000;
constexpr uint32_t kCommandLow = 0x10002;
constexpr uint32_t kPages = N64FlashSave::kSize / N64FlashSave::kPage;
constexpr uint32_t kPagesPerSector = N64FlashSave::kSector / N64FlashSave::kPage;

constexpr uint32_t kStatusMode = 0xD2000000;
constexpr uint32_t kIdentifyMode = 0xE1000000;
constexpr uint32_t kReadArray = 0xF0000000;
constexpr uint32_t kSectorErase = 0x4B000000;
constexpr uint32_t kChipErase = 0x3C000000;
constexpr uint32_t kStartErase = 0x78000000;
constexpr uint32_t kWriteBuffer = 0xB4000000;
constexpr uint32_t kProgramPage = 0xA5000000;
constexpr uint32_t kOperand = 0xFFFF;  // the page number of 0x4B and 0xA5

constexpr uint8_t kProgramBusy = 0x01;
constexpr uint8_t kEraseBusy = 0x02;
constexpr uint8_t kProgramDone = 0x04;
constexpr uint8_t kEraseDone = 0x08;

struct SaveKind {
  const char* name;
  N64SaveType type;
  uint32_t size;
};
constexpr SaveKind kSaveKinds[] = {
    {"none", N64SaveType::none, 0},          {"eeprom4k", N64SaveType::eeprom4k, 512},
    {"eeprom16k", N64SaveType::eeprom16k, 2048}, {"sram", N64SaveType::sram, 0x8000},
    {"sram96k", N64SaveType::sram96k, 0x18000},  {"flash", N64SaveType::flash, N64FlashSave::kSize},
};

}  // namespace

std::optional<N64SaveType> n64_save_type_named(std::string_view name) {
  for (const SaveKind& k : kSaveKinds) {
    if (name == k.name) return k.type;
  }
  return std::nullopt;
}

uint32_t n64_save_size(N64SaveType type) {
  for (const SaveKind& k : kSaveKinds) {
    if (k.type == type) return k.size;
  }
  return 0;
}

std::optional<uint32_t> n64_sram_offset(uint32_t address, uint32_t size) {
  const uint32_t in_bank = address & (kSramBank - 1);
  if (size <= kSramBank) return in_bank;
  const uint32_t bank = (address >> kSramBankShift) & 3;
  if (bank >= kSramBanks) return std::nullopt;
  return bank * kSramBank + in_bank;
}

N64FlashSave::N64FlashSave(uint32_t busy_polls) : cells_(kSize, 0xFF), busy_polls_(busy_polls) {}

uint16_t N64FlashSave::read_word(uint32_t offset) const {
  const uint32_t at = offset & kFlashDecode & ~1u;
  if (mode_ == Mode::read_array && !busy()) {
    return static_cast<uint16_t>(cells_[at] << 8 | cells_[at + 1]);
  }
  uint8_t status = static_cast<uint8_t>(kIdentifier);
  if (busy()) {
    status = running_ == Mode::program ? kProgramBusy : kEraseBusy;
  } else if (mode_ == Mode::status) {
    status = status_;
  }
  const std::array<uint16_t, 4> words = {
      static_cast<uint16_t>(kIdentifier >> 16),
      static_cast<uint16_t>((kIdentifier & 0xFF00) | status),
      static_cast<uint16_t>(kMakerType >> 16), static_cast<uint16_t>(kMakerType)};
  return words[(at >> 1) & 3];
}

void N64FlashSave::write_word(uint32_t offset, uint16_t value) {
  const uint32_t at = offset & kFlashDecode & ~1u;
  if (at == kCommandHigh) {
    high_word_ = value;
    return;
  }
  if (at == kCommandLow) {
    if (!high_word_) {
      ++ignored_;  // half a command
      return;
    }
    command(static_cast<uint32_t>(*high_word_) << 16 | value);
    high_word_.reset();
    return;
  }
  if (busy()) return;
  if (mode_ == Mode::write_buffer) {
    buffer_[at % kPage] = static_cast<uint8_t>(value >> 8);
    buffer_[at % kPage + 1] = static_cast<uint8_t>(value);
  } else if (mode_ == Mode::status) {
    status_ = 0;
  }
}

void N64FlashSave::command(uint32_t value) {
  const uint32_t op = value & ~kOperand;
  // A busy chip takes nothing but a change of what its reads show.
  if (busy() && value != kStatusMode && value != kIdentifyMode && value != kReadArray) {
    ++ignored_;
    return;
  }
  if (value == kReadArray) {
    mode_ = Mode::read_array;
  } else if (value == kIdentifyMode) {
    mode_ = Mode::identify;
  } else if (value == kStatusMode) {
    mode_ = Mode::status;
  } else if (value == kWriteBuffer) {
    mode_ = Mode::write_buffer;
    buffer_.fill(0xFF);
  } else if (op == kSectorErase) {
    mode_ = Mode::erase;
    armed_page_ = (value & kOperand) % kPages;
  } else if (value == kChipErase) {
    mode_ = Mode::chip_erase;
  } else if (value == kStartErase && (mode_ == Mode::erase || mode_ == Mode::chip_erase)) {
    start(mode_);
  } else if (op == kProgramPage && mode_ == Mode::write_buffer) {
    armed_page_ = (value & kOperand) % kPages;
    start(Mode::program);
  } else {
    ++ignored_;
  }
}

void N64FlashSave::start(Mode operation) {
  running_ = operation;
  busy_left_ = busy_polls_;
  mode_ = Mode::status;
  if (busy_left_ == 0) finish();
}

void N64FlashSave::tick() {
  if (busy_left_ == 0) return;
  if (--busy_left_ == 0) finish();
}

void N64FlashSave::finish() {
  const Mode done = *running_;
  running_.reset();
  status_ = done == Mode::program ? kProgramDone : kEraseDone;
  if (done == Mode::chip_erase) {
    std::fill(cells_.begin(), cells_.end(), 0xFF);
  } else if (done == Mode::erase) {
    const uint32_t first = armed_page_ / kPagesPerSector * kSector;
    std::fill_n(cells_.begin() + first, kSector, 0xFF);
  } else {
    const uint32_t first = armed_page_ * kPage;
    for (uint32_t i = 0; i < kPage; ++i) cells_[first + i] &= buffer_[i];
  }
}

}  // namespace vdev
