#include "virtual_device/device.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "link/cipher.h"
#include "link/transport.h"

namespace vdev {

namespace {

// The device's own view of the wire: packet frame, families and sub-commands it carries out.
constexpr uint32_t kPacket = 512;
constexpr uint8_t kMarker = 0x5A;
constexpr uint32_t kCrcOffset = 510;

constexpr uint8_t kSystem = 240;
constexpr uint8_t kSystemKeyRequest = 4;
constexpr uint8_t kNes = 14;
constexpr uint8_t kSfc = 15;
constexpr uint8_t kN64 = 16;
constexpr uint8_t kIdentity = 1;

enum NesSub : uint8_t {
  kCpuRead = 4,
  kCpuWrite = 5,
  kPrgFlashWrite = 6,
  kPpuRead = 7,
  kPpuWrite = 8,
  kPrgProgram = 9,
  kChrProgram = 10,
  kProgramSetup = 11,
  kCpuWriteAlt = 13,
  kMiscByte = 18,
  kWriteListRead = 19,
  kPrgProgram29gl = 128,
  kSetByte = 144,
};

// Family 14 packet fields.
constexpr uint32_t kNesSetting = 3;   // list count or setting byte
constexpr uint32_t kNesAddress = 4;   // 16-bit little-endian
constexpr uint32_t kNesCount = 8;     // 16-bit little-endian
constexpr uint32_t kNesPayload = 12;
constexpr uint32_t kNesMaxData = 498;            // bytes 12..509
constexpr uint32_t kNesMaxData29gl = 480;
constexpr uint32_t kNesMaxListEntries = 124;
constexpr uint32_t kCipherBlock = 8;
constexpr int32_t kPlainFirmware = 403;

constexpr uint32_t kReplyAreaSize = 8192;
constexpr uint32_t kStatusOffset = 8192;
constexpr uint32_t kStatusSize = 1024;
constexpr uint32_t kStatusBoot = 256;
constexpr uint32_t kStatusKey = 512;
constexpr uint32_t kStatusDate = 1016;
constexpr uint32_t kStatusDateMax = 8;
constexpr uint32_t kStatusTextMax = 256;  // the text ends where "BOOT" may begin

// Stored files of the drive are kept small; nothing the tool writes there comes near this.
constexpr uint64_t kStoredFileMax = kDumpFileSize;

constexpr std::string_view kReplyFile = "T-DRIVER.DMP";
constexpr std::string_view kDumpFile = "DUMP.ROM";
constexpr std::string_view kNesHwrka = "NES_HWRKA_FW";

// File names as a FAT drive compares them.
std::string fold(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool is_command_name(const std::string& folded) {
  return folded.size() == 8 && folded.compare(0, 3, "CMD") == 0 && folded[3] >= '0' &&
         folded[3] <= '3' && folded.compare(4, 4, ".CMD") == 0;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The firmware number as the tool reads it: leading blanks, a sign, digits up to the first
// other character; 0 without digits.
int32_t parse_number(std::string_view text) {
  std::string s(text.substr(0, text.find('\0')));
  long v = std::strtol(s.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

const char* fault_text(PacketRecord::Fault fault) {
  switch (fault) {
    case PacketRecord::Fault::none: return "ok";
    case PacketRecord::Fault::marker: return "bad marker";
    case PacketRecord::Fault::crc: return "bad crc";
    case PacketRecord::Fault::partial: return "partial packet";
  }
  return "?";
}

}  // namespace

// Hands a packet to the inserted cartridge of another slot (defined below, with its host).
void hand_to_cartridge(Device::State& state, const uint8_t* packet);

struct Device::State {
  DeviceConfig config;
  std::unique_ptr<NesBoard> nes;
  std::unique_ptr<Cartridge> cartridge;
  std::array<uint8_t, kReplyAreaSize> reply{};
  bool identified = false;
  NesBus dump_bus = NesBus::cpu;
  std::optional<std::array<uint16_t, 4>> setup;
  uint8_t setting = 0;
  CipherContext cipher{};
  std::optional<std::array<uint8_t, 8>> cipher_key;  // key `cipher` was scheduled from
  std::map<std::string, std::vector<uint8_t>> stored;  // other files, by folded name
  std::vector<TraceEvent> trace;
  std::vector<PacketRecord> packets;
  uint32_t refused_reads = 0;
  std::FILE* log = nullptr;
  SystemModel system;

  void log_line(const std::string& line) {
    if (!log) return;
    std::fprintf(log, "%s\n", line.c_str());
    std::fflush(log);
  }

  uint32_t reply_file_size() const {
    switch (config.status_file) {
      case StatusFile::present: return kReplyFileSize;
      case StatusFile::missing: return 0;
      case StatusFile::short_file: return std::min(config.short_file_size, kReplyFileSize);
    }
    return 0;
  }

  std::array<uint8_t, kStatusSize> status_sector() const {
    std::array<uint8_t, kStatusSize> s{};
    // The name fills its field without a terminator when it is that long; the identity text
    // is always terminated.
    const std::string& text = identified ? config.identity : config.name;
    const size_t limit = identified ? kStatusTextMax - 1 : kStatusTextMax;
    std::memcpy(s.data(), text.data(), std::min(text.size(), limit));
    if (config.key_source == KeySource::status_sector) {
      std::memcpy(s.data() + kStatusBoot, "BOOT", 4);
      std::memcpy(s.data() + kStatusKey, config.key.data(), config.key.size());
    }
    std::memcpy(s.data() + kStatusDate, config.date_digits.data(),
                std::min<size_t>(config.date_digits.size(), kStatusDateMax));
    return s;
  }

  int32_t firmware_level() const {
    if (config.firmware) return *config.firmware;
    std::string_view id = config.identity;
    if (id.substr(0, kNesHwrka.size()) == kNesHwrka) return parse_number(id.substr(kNesHwrka.size()));
    return kPlainFirmware;
  }

  // Device time passes for whatever is inserted.
  void tick() {
    if (nes) nes->tick();
    if (cartridge) cartridge->tick();
  }

  const CipherContext& keyed_cipher() {
    if (!cipher_key || *cipher_key != config.key) {
      blowfish_set_key(cipher, config.key.data(), static_cast<uint32_t>(config.key.size()));
      cipher_key = config.key;
    }
    return cipher;
  }

  // Bus access on the inserted board; an empty slot reads 0xFF and drops writes.
  uint8_t bus_read(NesBus bus, uint16_t address) {
    if (!nes) return 0xFF;
    return bus == NesBus::cpu ? nes->cpu_read(address) : nes->ppu_read(address);
  }
  void bus_write(NesBus bus, uint16_t address, uint8_t value) {
    if (!nes) return;
    if (bus == NesBus::cpu) {
      nes->cpu_write(address, value);
    } else {
      nes->ppu_write(address, value);
    }
  }
  // Flash command and program cycles: on the CPU bus they take the board's flash path.
  void flash_write(NesBus bus, uint16_t address, uint8_t value) {
    if (nes && bus == NesBus::cpu) {
      nes->cpu_flash_write(address, value);
    } else {
      bus_write(bus, address, value);
    }
  }

  void read_into_reply(NesBus bus, uint16_t address, uint16_t count) {
    reply.fill(0);
    const uint32_t n = std::min<uint32_t>(count, kReplyAreaSize);
    for (uint32_t i = 0; i < n; ++i) {
      reply[i] = bus_read(bus, static_cast<uint16_t>(address + i));
    }
    dump_bus = bus;
  }

  void write_bytes(NesBus bus, uint16_t address, const uint8_t* data, uint16_t count) {
    const uint32_t n = std::min<uint32_t>(count, kNesMaxData);
    for (uint32_t i = 0; i < n; ++i) bus_write(bus, static_cast<uint16_t>(address + i), data[i]);
    dump_bus = bus;
  }

  void program_block(NesBus bus, const uint8_t* packet, uint32_t max_data) {
    const uint16_t address = le16(packet + kNesAddress);
    const uint32_t n = std::min<uint32_t>(le16(packet + kNesCount), max_data);
    std::array<uint8_t, kNesMaxData> data{};
    std::memcpy(data.data(), packet + kNesPayload, kNesMaxData);
    // Old firmware takes the first payload block enciphered, padding included.
    if (firmware_level() < kPlainFirmware) payload_decrypt(keyed_cipher(), data.data(), kCipherBlock);
    if (setup) flash_write(bus, (*setup)[0], 0xF0);
    for (uint32_t i = 0; i < n; ++i) {
      const auto target = static_cast<uint16_t>(address + i);
      if (setup) {
        flash_write(bus, (*setup)[1], 0xAA);
        flash_write(bus, (*setup)[2], 0x55);
        flash_write(bus, (*setup)[3], 0xA0);
      }
      flash_write(bus, target, data[i]);
    }
    dump_bus = bus;
  }

  void carry_out_nes(const uint8_t* p) {
    const uint16_t address = le16(p + kNesAddress);
    const uint16_t count = le16(p + kNesCount);
    switch (p[2]) {
      case kIdentity:
        identified = true;
        break;
      case kCpuRead:
        read_into_reply(NesBus::cpu, address, count);
        break;
      case kPpuRead:
        read_into_reply(NesBus::ppu, address, count);
        break;
      case kCpuWrite:
      case kCpuWriteAlt:
        write_bytes(NesBus::cpu, address, p + kNesPayload, count);
        break;
      case kPrgFlashWrite:
        for (uint32_t i = 0; i < std::min<uint32_t>(count, kNesMaxData); ++i) {
          flash_write(NesBus::cpu, static_cast<uint16_t>(address + i), p[kNesPayload + i]);
        }
        dump_bus = NesBus::cpu;
        break;
      case kPpuWrite:
        write_bytes(NesBus::ppu, address, p + kNesPayload, count);
        break;
      case kPrgProgram:
        program_block(NesBus::cpu, p, kNesMaxData);
        break;
      case kPrgProgram29gl:
        program_block(NesBus::cpu, p, kNesMaxData29gl);
        break;
      case kChrProgram:
        program_block(NesBus::ppu, p, kNesMaxData);
        break;
      case kProgramSetup:
        setup = std::array<uint16_t, 4>{le16(p + 12), le16(p + 16), le16(p + 20), le16(p + 24)};
        break;
      case kMiscByte:
        reply.fill(0);
        reply[0] = config.misc_byte;
        if (nes) {
          if (const auto board_byte = nes->misc_byte()) reply[0] = *board_byte;
        }
        break;
      case kWriteListRead: {
        const uint32_t entries = std::min<uint32_t>(p[kNesSetting], kNesMaxListEntries);
        for (uint32_t i = 0; i < entries; ++i) {
          const uint8_t* e = p + kNesPayload + 4 * i;
          bus_write(NesBus::cpu, le16(e), e[2]);
        }
        read_into_reply(NesBus::cpu, address, count);
        break;
      }
      case kSetByte:
        setting = p[kNesSetting];
        break;
      default:
        break;  // not a sub-command this device knows: ignored
    }
  }

  void carry_out(const uint8_t* p) {
    // A cartridge of another slot answers its own families (the system family stays ours).
    if (cartridge && p[1] != kSystem && cartridge->takes(p[1])) {
      hand_to_cartridge(*this, p);
      return;
    }
    switch (p[1]) {
      case kSystem:
        if (p[2] == kSystemKeyRequest) {
          reply.fill(0);
          std::memcpy(reply.data(), config.key.data(), config.key.size());
        } else {
          carry_out_system(p, system, reply);
        }
        break;
      case kNes:
        carry_out_nes(p);
        break;
      case kSfc:
      case kN64:
        if (p[2] == kIdentity) identified = true;
        break;
      default:
        break;
    }
  }

  // Appends "14/9 ok" to a summary, folding runs of the same result into " xN".
  static void summarise(std::vector<std::pair<std::string, uint32_t>>& runs, std::string item) {
    if (!runs.empty() && runs.back().first == item) {
      ++runs.back().second;
    } else {
      runs.emplace_back(std::move(item), 1);
    }
  }
};

// What a cartridge of another slot sees of the device.
class StateHost final : public SlotHost {
 public:
  explicit StateHost(Device::State& state) : s_(state) {}
  std::span<uint8_t> reply() override { return s_.reply; }
  const DeviceConfig& config() const override { return s_.config; }
  const CipherContext& device_cipher() override { return s_.keyed_cipher(); }
  void set_identified() override { s_.identified = true; }

 private:
  Device::State& s_;
};

void hand_to_cartridge(Device::State& state, const uint8_t* packet) {
  StateHost host(state);
  state.cartridge->carry_out(packet, host);
}

Device::Device(DeviceConfig config) : state_(std::make_unique<State>()) {
  state_->config = std::move(config);
}

Device::~Device() = default;

DeviceConfig& Device::config() { return state_->config; }

void Device::insert_nes(std::unique_ptr<NesBoard> board) { state_->nes = std::move(board); }

NesBoard* Device::nes() { return state_->nes.get(); }

void Device::insert(std::unique_ptr<Cartridge> cartridge) {
  state_->cartridge = std::move(cartridge);
}

Cartridge* Device::cartridge() { return state_->cartridge.get(); }

std::vector<NamedMemory> Device::memories() {
  std::vector<NamedMemory> out;
  if (state_->nes) out = state_->nes->memories();
  if (state_->cartridge) {
    for (auto& m : state_->cartridge->memories()) out.push_back(std::move(m));
  }
  return out;
}

bool Device::exists(std::string_view file) const {
  const std::string name = fold(file);
  if (name == kReplyFile) return state_->config.status_file != StatusFile::missing;
  if (name == kDumpFile) return true;
  return state_->stored.count(name) != 0;
}

uint64_t Device::size(std::string_view file) const {
  const std::string name = fold(file);
  if (name == kReplyFile) return state_->reply_file_size();
  if (name == kDumpFile) return state_->cartridge ? state_->cartridge->dump_size() : kDumpFileSize;
  auto it = state_->stored.find(name);
  return it == state_->stored.end() ? 0 : it->second.size();
}

uint32_t Device::read_direct(std::string_view file, uint64_t offset, uint8_t* buffer,
                             uint32_t count, bool check_buffer) {
  constexpr uint32_t kSector = 512;
  if (offset % kSector != 0 || count % kSector != 0 ||
      (check_buffer && reinterpret_cast<uintptr_t>(buffer) % kSector != 0)) {
    ++state_->refused_reads;
    state_->log_line("refused direct read " + fold(file) + " @" + std::to_string(offset) + " +" +
                     std::to_string(count) + ": not whole sectors");
    return 0;
  }
  return read(file, offset, buffer, count);
}

uint32_t Device::refused_reads() const { return state_->refused_reads; }

uint32_t Device::read(std::string_view file, uint64_t offset, uint8_t* buffer, uint32_t count) {
  State& s = *state_;
  const std::string name = fold(file);
  const bool reply = name == kReplyFile;
  if (reply || name == kDumpFile) {
    s.trace.push_back({reply ? TraceEvent::Kind::reply_read : TraceEvent::Kind::dump_read, name,
                       {}, offset, count});
    s.log_line("read " + name + " @" + std::to_string(offset) + " +" + std::to_string(count));
  }
  if (!exists(name)) return 0;
  const uint64_t file_size = size(name);
  if (offset >= file_size) return 0;
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, file_size - offset));

  if (reply) {
    const auto sector = s.status_sector();
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t at = offset + i;
      buffer[i] = at < kStatusOffset ? s.reply[at] : sector[at - kStatusOffset];
    }
  } else if (name == kDumpFile && s.cartridge) {
    s.cartridge->dump(offset, buffer, n);
  } else if (name == kDumpFile) {
    // The window shows the slot's bus at file offset = address; the address wraps at 16 bits
    // as the tool's chunked reads wrap it. Peeks only: reading the window changes nothing.
    for (uint32_t i = 0; i < n; ++i) {
      const auto address = static_cast<uint16_t>(offset + i);
      if (!s.nes) {
        buffer[i] = 0xFF;
      } else {
        buffer[i] = s.dump_bus == NesBus::cpu ? s.nes->cpu_peek(address) : s.nes->ppu_peek(address);
      }
    }
  } else {
    const auto& bytes = s.stored.at(name);
    std::memcpy(buffer, bytes.data() + offset, n);
  }
  // The host looked at the device: time passes for the cartridge (an erase moves on).
  if (reply || name == kDumpFile) s.tick();
  return n;
}

void Device::take_command_file(std::string_view file, const uint8_t* data, size_t length) {
  State& s = *state_;
  const std::string name = fold(file);
  if (name == kReplyFile || name == kDumpFile) return;  // the device's own files stay its own
  if (!is_command_name(name)) {
    s.stored[name].assign(data, data + std::min<uint64_t>(length, kStoredFileMax));
    s.log_line(name + " " + std::to_string(length) + " bytes: stored, not a command file");
    return;
  }

  s.trace.push_back({TraceEvent::Kind::command_file, name, {data, data + length}, 0, 0});
  std::vector<std::pair<std::string, uint32_t>> runs;
  size_t at = 0;
  for (; at + kPacket <= length; at += kPacket) {
    const uint8_t* p = data + at;
    PacketRecord record{p[1], p[2], false, PacketRecord::Fault::none};
    const uint16_t crc = static_cast<uint16_t>((p[kCrcOffset] << 8) | p[kCrcOffset + 1]);
    if (p[0] != kMarker) {
      record.fault = PacketRecord::Fault::marker;
    } else if (crc != packet_crc16(p, kPacket)) {
      record.fault = PacketRecord::Fault::crc;
    } else {
      record.accepted = true;
    }
    s.packets.push_back(record);
    State::summarise(runs, std::to_string(record.family) + "/" + std::to_string(record.sub) +
                               " " + fault_text(record.fault));
    // A refused packet is ignored, as the device ignores a sector it cannot trust.
    if (record.accepted) s.carry_out(p);
  }
  if (at < length) {
    PacketRecord record{};
    record.fault = PacketRecord::Fault::partial;
    if (length - at > 1) record.family = data[at + 1];
    if (length - at > 2) record.sub = data[at + 2];
    s.packets.push_back(record);
    State::summarise(runs, std::to_string(length - at) + " bytes refused (partial packet)");
  }

  std::string line = name + " " + std::to_string(length) + " bytes:";
  if (runs.empty()) line += " no packets";
  for (size_t i = 0; i < runs.size(); ++i) {
    line += (i ? ", " : " ") + runs[i].first;
    if (runs[i].second > 1) line += " x" + std::to_string(runs[i].second);
  }
  s.log_line(line);
}

uint32_t Device::write(std::string_view file, uint64_t offset, const uint8_t* data,
                       uint32_t count) {
  auto it = state_->stored.find(fold(file));
  if (it == state_->stored.end() || offset + count > kStoredFileMax) return 0;
  auto& bytes = it->second;
  if (bytes.size() < offset + count) bytes.resize(offset + count);
  std::memcpy(bytes.data() + offset, data, count);
  return count;
}

bool Device::remove(std::string_view file) { return state_->stored.erase(fold(file)) != 0; }

bool Device::rename(std::string_view from, std::string_view to) {
  State& s = *state_;
  auto it = s.stored.find(fold(from));
  const std::string target = fold(to);
  if (it == s.stored.end() || target == kReplyFile || target == kDumpFile) return false;
  std::vector<uint8_t> bytes = std::move(it->second);
  s.stored.erase(it);
  if (is_command_name(target)) {
    take_command_file(target, bytes.data(), bytes.size());
  } else {
    s.stored[target] = std::move(bytes);
  }
  return true;
}

bool Device::identified() const { return state_->identified; }

int32_t Device::firmware_level() const { return state_->firmware_level(); }

NesBus Device::dump_bus() const { return state_->dump_bus; }

std::optional<std::array<uint16_t, 4>> Device::program_setup() const { return state_->setup; }

uint8_t Device::setting_byte() const { return state_->setting; }

SystemModel& Device::system() { return state_->system; }

const std::vector<TraceEvent>& Device::trace() const { return state_->trace; }

const std::vector<PacketRecord>& Device::packets() const { return state_->packets; }

void Device::clear_trace() {
  state_->trace.clear();
  state_->packets.clear();
}

void Device::set_trace_log(std::FILE* log) { state_->log = log; }

}  // namespace vdev
