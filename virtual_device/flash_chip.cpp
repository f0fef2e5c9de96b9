#include "virtual_device/flash_chip.h"

#include <algorithm>
#include <climits>

namespace vdev {

namespace {

constexpr uint8_t kReset = 0xF0;
constexpr uint8_t kUnlock1Data = 0xAA;
constexpr uint8_t kUnlock2Data = 0x55;
constexpr uint8_t kAutoselect = 0x90;
constexpr uint8_t kProgram = 0xA0;
constexpr uint8_t kEraseSetup = 0x80;
constexpr uint8_t kChipErase = 0x10;
constexpr uint8_t kSectorErase = 0x30;
constexpr uint8_t kCfiQuery = 0x98;
constexpr uint8_t kProtectionSet = 0xC0;
constexpr uint8_t kProtectionExitData = 0x00;

constexpr uint32_t kSmallSector = 0x10000;
constexpr uint32_t kLargeSector = 0x20000;
constexpr uint32_t kLargeChip = 0x800000;

// CFI query words: the first erase-block region and the primary (AMD) table.
constexpr uint32_t kCfiRegions = 0x2D;
constexpr uint32_t kPrimaryTable = 0x40;

}  // namespace

FlashChip::FlashChip(FlashChipConfig config)
    : config_(std::move(config)),
      cells_(std::max<uint32_t>(config_.size, 2), 0xFF),
      protected_(config_.protect) {
  config_.size = static_cast<uint32_t>(cells_.size());
}

std::pair<uint32_t, uint32_t> FlashChip::sector_at(uint32_t offset) const {
  offset %= config_.size;
  uint32_t first = 0;
  uint32_t size = config_.size > kLargeChip ? kLargeSector : kSmallSector;
  for (size_t i = 0;; ++i) {
    if (i < config_.sectors.size()) size = config_.sectors[i];
    if (size == 0) return {first, config_.size - first};
    if (offset - first < size || first + size >= config_.size) {
      return {first, std::min(size, config_.size - first)};
    }
    first += size;
  }
}

uint8_t FlashChip::read_cell(uint32_t offset) const {
  offset %= config_.size;
  uint8_t v = cells_[offset];
  if (config_.stuck && config_.stuck->offset == offset) {
    v = static_cast<uint8_t>((v & ~config_.stuck->mask) | (config_.stuck->value & config_.stuck->mask));
  }
  return v;
}

uint16_t FlashChip::status() const {
  // While an erase runs, data bit 7 reads 0 and bit 6 toggles with each read: never 0xFF.
  const uint16_t bits = toggle_ ? 0x40 : 0x00;
  return static_cast<uint16_t>(bits | (bits << 8));
}

uint16_t FlashChip::autoselect_word(uint32_t word) const {
  word &= 0xFF;
  if (word == 2) return protected_ ? 1 : 0;
  return word < config_.id.size() ? config_.id[word] : 0;
}

std::vector<FlashChip::Region> FlashChip::regions() const {
  std::vector<Region> out;
  for (uint32_t first = 0; first < config_.size;) {
    const uint32_t size = sector_at(first).second;
    if (!out.empty() && out.back().sector == size) {
      ++out.back().count;
    } else {
      out.push_back({size, 1});
    }
    first += size;
  }
  return out;
}

uint16_t FlashChip::cfi_word(uint32_t word) const {
  word &= 0xFF;
  // The erase-block regions: count, then per region (sectors - 1) and (size / 256), 16 bits
  // each. A top-boot chip lists them as its bottom-boot twin does and says so in the
  // primary table's boot flag (3), as AMD's chips do; the reader turns them round.
  std::vector<Region> listed = regions();
  const bool top_boot = listed.size() > 1 && listed.back().sector < listed.front().sector;
  if (top_boot) std::reverse(listed.begin(), listed.end());
  if (word >= kCfiRegions && word < kCfiRegions + 4 * listed.size()) {
    const Region& r = listed[(word - kCfiRegions) / 4];
    const uint32_t field = (word - kCfiRegions) % 4;
    const uint32_t value = field < 2 ? r.count - 1 : r.sector / 256;
    return static_cast<uint16_t>((field % 2 ? value >> 8 : value) & 0xFF);
  }
  switch (word) {
    case 0x10: return 'Q';
    case 0x11: return 'R';
    case 0x12: return 'Y';
    case 0x13: return 0x02;  // AMD command set
    case 0x15: return kPrimaryTable;
    case 0x27: {
      uint16_t code = 0;
      while ((uint64_t{1} << (code + 1)) <= config_.size) ++code;
      return code;
    }
    case 0x28: return config_.word_mode ? 0x01 : 0x00;
    case 0x2C: return static_cast<uint16_t>(listed.size());
    case kPrimaryTable: return 'P';
    case kPrimaryTable + 1: return 'R';
    case kPrimaryTable + 2: return 'I';
    case kPrimaryTable + 3: return '1';
    case kPrimaryTable + 4: return '3';
    // Boot flag: 2 bottom boot, 3 top boot, 4 uniform sectors.
    case kPrimaryTable + 0xF: return listed.size() == 1 ? 4 : top_boot ? 3 : 2;
    default: return 0;
  }
}

uint8_t FlashChip::peek(uint32_t offset) const {
  if (erase_) return static_cast<uint8_t>(status());
  switch (mode_) {
    case Mode::autoselect: return static_cast<uint8_t>(autoselect_word(offset >> 1));
    case Mode::cfi: return (offset & 1) ? 0 : static_cast<uint8_t>(cfi_word(offset >> 1));
    default: return read_cell(offset);
  }
}

uint8_t FlashChip::read(uint32_t offset) {
  const uint8_t v = peek(offset);
  if (erase_) toggle_ = !toggle_;
  return v;
}

uint16_t FlashChip::peek_word(uint32_t word) const {
  if (erase_) return status();
  switch (mode_) {
    case Mode::autoselect: return autoselect_word(word);
    case Mode::cfi: return cfi_word(word);
    default: {
      const uint32_t at = (word * 2) % config_.size;
      return static_cast<uint16_t>(read_cell(at) | (read_cell(at + 1) << 8));
    }
  }
}

uint16_t FlashChip::read_word(uint32_t word) {
  const uint16_t v = peek_word(word);
  if (erase_) toggle_ = !toggle_;
  return v;
}

void FlashChip::write(uint32_t offset, uint8_t value) {
  command(offset & 0xFFF, offset % config_.size, value, value);
}

void FlashChip::write_word(uint32_t word, uint16_t value) {
  command(word & 0x7FF, (word * 2) % config_.size, static_cast<uint8_t>(value), value);
}

void FlashChip::program(uint32_t offset, uint16_t value) {
  // A protected chip ignores programming as it ignores erases: the cells stay as they were.
  if (protected_) return;
  // Programming moves bits from 1 to 0 only; an erase is the way back.
  cells_[offset] &= static_cast<uint8_t>(value);
  if (config_.word_mode) cells_[(offset + 1) % config_.size] &= static_cast<uint8_t>(value >> 8);
}

void FlashChip::start_erase(uint32_t first, uint32_t size) {
  ++erases_started_;
  if (protected_) return;  // a protected chip ignores the erase and stays as it was
  erase_ = Erase{first, size, config_.erase_polls};
  if (config_.erase_polls == 0 && !config_.erase_never_finishes) tick();
}

void FlashChip::tick() {
  if (!erase_ || config_.erase_never_finishes) return;
  if (erase_->polls_left > 0) --erase_->polls_left;
  if (erase_->polls_left > 0) return;
  std::fill_n(cells_.begin() + erase_->first, erase_->size, 0xFF);
  erase_.reset();
  mode_ = Mode::read;
}

void FlashChip::command(uint32_t address, uint32_t offset, uint8_t data, uint16_t word) {
  if (erase_) return;  // busy: the chip takes no commands until the erase ends
  const uint32_t unlock1 = config_.word_mode ? 0x555 : 0xAAA;
  const uint32_t unlock2 = config_.word_mode ? 0x2AA : 0x555;
  const uint32_t cfi = config_.word_mode ? 0x55 : 0xAA;

  if (program_armed_) {
    program_armed_ = false;
    cycle_ = 0;
    program(offset, word);
    return;
  }
  if (data == kReset) {
    mode_ = Mode::read;
    cycle_ = 0;
    erase_armed_ = false;
    protection_clear_armed_ = false;
    return;
  }
  if (mode_ == Mode::protection) {
    // The protection command set: 0x80 then 0x30 clears every sector's protection; 0x90 then
    // 0x00 leaves the command set.
    if (data == kEraseSetup) {
      protection_clear_armed_ = true;
    } else if (data == kSectorErase && protection_clear_armed_) {
      protected_ = false;
      protection_clear_armed_ = false;
    } else if (data == kProtectionExitData) {
      mode_ = Mode::read;
    }
    return;
  }
  if (cycle_ == 0 && data == kCfiQuery && address == cfi && config_.cfi) {
    mode_ = Mode::cfi;
    return;
  }
  switch (cycle_) {
    case 0:
      cycle_ = (data == kUnlock1Data && address == unlock1) ? 1 : 0;
      if (cycle_ == 0) erase_armed_ = false;
      return;
    case 1:
      cycle_ = (data == kUnlock2Data && address == unlock2) ? 2 : 0;
      if (cycle_ == 0) erase_armed_ = false;
      return;
    default:
      break;
  }
  cycle_ = 0;
  if (data == kSectorErase && erase_armed_) {
    erase_armed_ = false;
    const auto [first, size] = sector_at(offset);
    start_erase(first, size);
    return;
  }
  if (address != unlock1) {
    erase_armed_ = false;
    return;
  }
  switch (data) {
    case kAutoselect: mode_ = Mode::autoselect; break;
    case kProgram: program_armed_ = true; break;
    case kEraseSetup: erase_armed_ = true; return;
    case kChipErase:
      if (erase_armed_) start_erase(0, config_.size);
      break;
    case kProtectionSet: mode_ = Mode::protection; break;
    default: break;
  }
  erase_armed_ = false;
}

const std::vector<CartridgeOption>& flash_chip_option_list() {
  static const std::vector<CartridgeOption> list = {
      {"chip-size", "SIZE", "flash chip size in bytes (K and M suffixes)"},
      {"chip-id", "WORDS", "autoselect words from 0, comma-separated hex (e.g. 01,7E)"},
      {"protected", "yes|no", "the chip's sectors are protected until cleared"},
      {"cfi", "yes|no", "the chip answers the CFI query (default yes)"},
      {"erase-polls", "N|never", "reads an erase stays busy for (default 2)"},
      {"stuck-bit", "OFFSET:MASK:VALUE", "bits MASK of byte OFFSET always read as VALUE"},
  };
  return list;
}

bool flash_chip_options(const CartridgeOptions& options, FlashChipConfig& config,
                        std::string& error) {
  uint64_t size = config.size;
  if (!option_number(options, "chip-size", size, error, 0x40000000)) return false;
  if (size < 0x1000 || (size & (size - 1)) != 0) {
    error = "--chip-size: give a power of two from 4K up";
    return false;
  }
  config.size = static_cast<uint32_t>(size);

  if (auto it = options.find("chip-id"); it != options.end()) {
    std::vector<uint16_t> id;
    std::string_view text = it->second;
    while (!text.empty()) {
      const size_t comma = text.find(',');
      std::string item(text.substr(0, comma));
      if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) {
        item = item.substr(2);
      }
      uint64_t v = 0;
      if (item.empty() || item.size() > 4 || !parse_option_number("0x" + item, v)) {
        error = "--chip-id '" + it->second + "': give hex words separated by commas";
        return false;
      }
      id.push_back(static_cast<uint16_t>(v));
      text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    config.id = id;
  }
  if (!option_flag(options, "protected", config.protect, error) ||
      !option_flag(options, "cfi", config.cfi, error)) {
    return false;
  }

  if (auto it = options.find("erase-polls"); it != options.end() && it->second == "never") {
    config.erase_never_finishes = true;
  } else {
    uint64_t polls = config.erase_polls;
    if (!option_number(options, "erase-polls", polls, error, 1000000)) return false;
    config.erase_polls = static_cast<uint32_t>(polls);
  }

  if (auto it = options.find("stuck-bit"); it != options.end()) {
    const std::string& t = it->second;
    const size_t a = t.find(':');
    const size_t b = a == std::string::npos ? a : t.find(':', a + 1);
    uint64_t offset = 0, mask = 0, value = 0;
    if (b == std::string::npos || !parse_option_number(t.substr(0, a), offset) ||
        !parse_option_number(t.substr(a + 1, b - a - 1), mask) ||
        !parse_option_number(t.substr(b + 1), value) || offset >= config.size || mask > 0xFF ||
        value > 0xFF) {
      error = "--stuck-bit '" + t + "': give OFFSET:MASK:VALUE within the chip, MASK and VALUE bytes";
      return false;
    }
    config.stuck = StuckBit{static_cast<uint32_t>(offset), static_cast<uint8_t>(mask),
                            static_cast<uint8_t>(value)};
  }
  return true;
}

}  // namespace vdev
