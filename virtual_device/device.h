// A virtual cartridge reader/writer: a device that behaves, not a recorder that replays.
// It presents the files of the device drive's root and carries out the command files written
// into it. The in-process tests reach it through the platform seam (inprocess.h), and the
// cartlink-virtual program mounts it as a FUSE file system; both use this one model.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_device/slot.h"
#include "virtual_device/system_model.h"

namespace vdev {

inline constexpr uint32_t kReplyFileSize = 9216;     // "T-DRIVER.DMP": replies, then the status sector
inline constexpr uint32_t kDumpFileSize = 0x1000000; // "DUMP.ROM": the cartridge window

// How "T-DRIVER.DMP" is presented, for discovery's failure paths.
enum class StatusFile { present, missing, short_file };
// Where discovery gets the key bytes: "BOOT" in the status sector, or the family 240 request.
enum class KeySource { status_sector, request };

struct DeviceConfig {
  std::string name = "NES_HWRKA_FW400";      // status sector text before an identity command;
                                             // raw bytes, up to 256, no terminator needed
  std::string identity = "NES_HWRKA_FW400";  // status sector text after an identity command
  std::array<uint8_t, 8> key{0x3A, 0x91, 0x5C, 0x07, 0xE2, 0x48, 0xB6, 0x1F};
  KeySource key_source = KeySource::status_sector;
  std::string date_digits = "20211001";      // at status sector byte 1016, up to 8 characters
  StatusFile status_file = StatusFile::present;
  uint32_t short_file_size = 9000;           // "T-DRIVER.DMP" size when status_file is short_file
  // Firmware number the device works by; empty: the number in `identity` for "NES_HWRKA_FW"
  // boards, 403 (no payload cipher) for every other identity.
  std::optional<int32_t> firmware;
  uint8_t misc_byte = 0;                     // family 14 sub-command 18 answer
};

// One thing that happened at the drive, in order.
struct TraceEvent {
  enum class Kind { command_file, reply_read, dump_read };
  Kind kind;
  std::string file;             // name within the root: "CMD2.CMD", "T-DRIVER.DMP", "DUMP.ROM"
  std::vector<uint8_t> data;    // command file: its whole contents as written
  uint64_t offset = 0;          // reads: byte offset and count asked for
  uint32_t count = 0;
};

// Every packet the device saw, in order, and whether its marker and CRC were good.
struct PacketRecord {
  enum class Fault : uint8_t { none, marker, crc, partial };
  uint8_t family = 0;
  uint8_t sub = 0;
  bool accepted = false;
  Fault fault = Fault::none;    // why it was refused; partial: a tail shorter than a packet
};

// The NES bus that "DUMP.ROM" shows (file offset = bus address, modulo 0x10000).
enum class NesBus : uint8_t { cpu, ppu };

// A cartridge in the NES slot, seen through its two buses.
class NesBoard {
 public:
  virtual ~NesBoard() = default;
  virtual uint8_t cpu_read(uint16_t address) = 0;
  virtual void cpu_write(uint16_t address, uint8_t value) = 0;
  virtual uint8_t ppu_read(uint16_t address) = 0;
  virtual void ppu_write(uint16_t address, uint8_t value) = 0;
  // Reads without side effects (status toggles, latches), for the "DUMP.ROM" window.
  virtual uint8_t cpu_peek(uint16_t address) { return cpu_read(address); }
  virtual uint8_t ppu_peek(uint16_t address) { return ppu_read(address); }
  // Device time passes: called after every reply or window read (erases finish by it).
  virtual void tick() {}
  // The flash path of the CPU bus: flash command writes (sub-command 6) and the program cycles
  // of the block-program commands reach the PRG flash here, past the mapper's registers, so a
  // board whose registers sit in $8000-$FFFF is not reprogrammed by its own data bytes.
  virtual void cpu_flash_write(uint16_t address, uint8_t value) { cpu_write(address, value); }
  // What the board reports as the misc byte (family 14 sub-command 18), if anything; the
  // device's configured byte otherwise.
  virtual std::optional<uint8_t> misc_byte() { return std::nullopt; }
  // Memories that cartlink-virtual saves at unmount and tests check.
  virtual std::vector<NamedMemory> memories() { return {}; }
};

class Device {
 public:
  explicit Device(DeviceConfig config = {});
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  DeviceConfig& config();
  void insert_nes(std::unique_ptr<NesBoard> board);
  NesBoard* nes();
  // A cartridge of another slot: it carries out the packets of the families it takes and
  // shows its memory in "DUMP.ROM" in place of the NES buses.
  void insert(std::unique_ptr<Cartridge> cartridge);
  Cartridge* cartridge();
  // The memories of whatever is inserted.
  std::vector<NamedMemory> memories();

  // The drive's root as files. Names are plain ("T-DRIVER.DMP"), compared as the device does.
  bool exists(std::string_view file) const;
  uint64_t size(std::string_view file) const;
  // Reads as the drive delivers; records reply and window reads in the trace.
  uint32_t read(std::string_view file, uint64_t offset, uint8_t* buffer, uint32_t count);
  // The same as an unbuffered (direct) read, which Windows takes only as whole 512-byte sectors
  // at a whole-sector offset into a sector-aligned buffer and fails otherwise: such a read
  // delivers nothing and is counted. A front end that cannot see the reader's own buffer
  // (FUSE) passes `check_buffer` false.
  uint32_t read_direct(std::string_view file, uint64_t offset, uint8_t* buffer, uint32_t count,
                       bool check_buffer = true);
  // Direct reads refused so far.
  uint32_t refused_reads() const;
  // A command file was written and closed: check and carry out its packets in order.
  // Any other name is stored as a plain file of the drive and carried out never.
  void take_command_file(std::string_view file, const uint8_t* data, size_t length);
  // Plain stored files: writes within or past the end (the device's own files refuse, 0),
  // removal and renaming. Renaming onto a command file name hands its contents over as a
  // command file, as a copy-then-rename save would.
  uint32_t write(std::string_view file, uint64_t offset, const uint8_t* data, uint32_t count);
  bool remove(std::string_view file);
  bool rename(std::string_view from, std::string_view to);

  // Device state, for tests.
  bool identified() const;                  // an identity command has switched the name text
  int32_t firmware_level() const;           // below 403: block-program payloads are ciphered
  NesBus dump_bus() const;
  // The four words of the last program setup (family 14 sub-command 11), if one came. The
  // block-program algorithm writes 0xF0 (read/reset) to word1 once per packet, then for each
  // data byte 0xAA to word2, 0x55 to word3, 0xA0 to word4 and the byte to its address: the
  // AMD command cycles. Without a setup the bytes are written plainly.
  std::optional<std::array<uint16_t, 4>> program_setup() const;
  uint8_t setting_byte() const;             // family 14 sub-command 144
  SystemModel& system();                    // what the family 240 system commands act on

  const std::vector<TraceEvent>& trace() const;
  const std::vector<PacketRecord>& packets() const;
  void clear_trace();
  // Also writes one line per trace event to `log` (nullptr: none).
  void set_trace_log(std::FILE* log);

  struct State;  // opaque: the model's inner state

 private:
  std::unique_ptr<State> state_;
};

}  // namespace vdev
