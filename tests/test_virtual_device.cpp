// The virtual device itself: packet checks, its files, the NES family on a board, the seam.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "link/cipher.h"
#include "link/transport.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/seam.h"
#include "tests/support.h"
#include "virtual_device/nes_boards.h"

namespace {

using vdev::F90Board;
using vdev::NesBus;
using vdev::PacketRecord;

using Packet = std::array<uint8_t, 512>;

// Packets are framed here by hand, so the device is checked against the wire format and not
// against the tool's builders.
Packet packet(uint8_t family, uint8_t sub, uint16_t address = 0, uint16_t count = 0,
              std::initializer_list<uint8_t> payload = {}) {
  Packet p{};
  p[1] = family;
  p[2] = sub;
  p[4] = static_cast<uint8_t>(address);
  p[5] = static_cast<uint8_t>(address >> 8);
  p[8] = static_cast<uint8_t>(count);
  p[9] = static_cast<uint8_t>(count >> 8);
  std::copy(payload.begin(), payload.end(), p.begin() + 12);
  return p;
}

Packet& frame(Packet& p) {
  p[0] = 'Z';
  const uint16_t crc = packet_crc16(p.data(), 512);
  p[510] = static_cast<uint8_t>(crc >> 8);
  p[511] = static_cast<uint8_t>(crc);
  return p;
}

class DeviceTest : public VirtualDeviceTest {
 protected:
  void SetUp() override {
    VirtualDeviceTest::SetUp();
    auto owned = std::make_unique<F90Board>();
    board = owned.get();
    device.insert_nes(std::move(owned));
  }

  void send(std::vector<Packet> packets, const char* file = "CMD0.CMD") {
    std::vector<uint8_t> bytes;
    for (auto& p : packets) {
      frame(p);
      bytes.insert(bytes.end(), p.begin(), p.end());
    }
    device.take_command_file(file, bytes.data(), bytes.size());
  }

  std::vector<uint8_t> read(const char* file, uint64_t offset, uint32_t count) {
    std::vector<uint8_t> out(count, 0xEE);
    out.resize(device.read(file, offset, out.data(), count));
    return out;
  }

  uint8_t cpu_read(uint16_t address) {
    send({packet(14, 4, address, 1)});
    return read("T-DRIVER.DMP", 0, 1).at(0);
  }

  F90Board* board = nullptr;
};

TEST_F(DeviceTest, RefusedPacketsAreNotCarriedOut) {
  std::string log(4096, '\0');
  std::FILE* sink = fmemopen(log.data(), log.size(), "w");
  device.set_trace_log(sink);

  Packet good1 = packet(14, 5, 0x6000, 1, {0x11});
  Packet bad_crc = packet(14, 5, 0x6001, 1, {0x22});
  Packet bad_marker = packet(14, 5, 0x6002, 1, {0x33});
  Packet good2 = packet(14, 5, 0x6003, 1, {0x44});
  frame(good1);
  frame(good2);
  frame(bad_crc)[511] ^= 1;
  bad_marker[0] = 'Y';  // with a CRC that matches it, so only the marker is wrong
  const uint16_t crc = packet_crc16(bad_marker.data(), 512);
  bad_marker[510] = static_cast<uint8_t>(crc >> 8);
  bad_marker[511] = static_cast<uint8_t>(crc);

  std::vector<uint8_t> file;
  for (const Packet* p : {&good1, &bad_crc, &bad_marker, &good2}) {
    file.insert(file.end(), p->begin(), p->end());
  }
  file.insert(file.end(), good1.begin(), good1.begin() + 100);  // a partial tail
  device.take_command_file("cmd2.cmd", file.data(), file.size());
  device.set_trace_log(nullptr);
  std::fclose(sink);

  const auto& ram = board->work_ram();
  EXPECT_EQ(ram[0], 0x11);
  EXPECT_EQ(ram[1], 0x00);
  EXPECT_EQ(ram[2], 0x00);
  EXPECT_EQ(ram[3], 0x44);

  using F = PacketRecord::Fault;
  ASSERT_EQ(device.packets().size(), 5u);
  const F faults[] = {F::none, F::crc, F::marker, F::none, F::partial};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(device.packets()[i].fault, faults[i]) << i;
    EXPECT_EQ(device.packets()[i].accepted, faults[i] == F::none) << i;
    EXPECT_EQ(device.packets()[i].family, 14) << i;
  }
  ASSERT_EQ(command_files().size(), 1u);
  EXPECT_EQ(command_files()[0].file, "CMD2.CMD");
  EXPECT_EQ(command_files()[0].data, file);
  EXPECT_EQ(log.c_str(), std::string("CMD2.CMD 2148 bytes: 14/5 ok, 14/5 bad crc, 14/5 bad marker, "
                                     "14/5 ok, 100 bytes refused (partial packet)\n"));

  // Other names are files of the drive, never commands.
  device.clear_trace();
  frame(good2 = packet(14, 5, 0x6004, 1, {0x55}));
  device.take_command_file("CMD4.CMD", good2.data(), 512);
  device.take_command_file("NOTES.CMD", good2.data(), 512);
  EXPECT_EQ(ram[4], 0x00);
  EXPECT_TRUE(device.packets().empty());
  EXPECT_TRUE(device.exists("cmd4.cmd"));
  EXPECT_EQ(device.size("NOTES.CMD"), 512u);
  // Renaming onto a command name is how a copy-then-rename save would arrive.
  EXPECT_TRUE(device.rename("NOTES.CMD", "CMD1.CMD"));
  EXPECT_EQ(ram[4], 0x55);
  EXPECT_FALSE(device.exists("NOTES.CMD"));
}

TEST_F(DeviceTest, StatusSectorLayoutAndIdentitySwitch) {
  auto& c = device.config();
  c.name = std::string(300, 'n');  // fills its 256 bytes, no terminator
  c.identity = "NES_Q3V8_FW403";
  c.date_digits = "2021100199";  // only 8 digits fit before the sector ends

  auto sector = read("t-driver.dmp", 8192, 1024);
  ASSERT_EQ(sector.size(), 1024u);
  EXPECT_EQ(std::string(sector.begin(), sector.begin() + 256), std::string(256, 'n'));
  EXPECT_EQ(std::string(sector.begin() + 256, sector.begin() + 260), "BOOT");
  EXPECT_TRUE(std::equal(c.key.begin(), c.key.end(), sector.begin() + 512));
  EXPECT_EQ(std::string(sector.begin() + 1016, sector.end()), "20211001");

  send({packet(14, 1)});
  EXPECT_TRUE(device.identified());
  sector = read("T-DRIVER.DMP", 8192, 1024);
  EXPECT_STREQ(reinterpret_cast<const char*>(sector.data()), "NES_Q3V8_FW403");
  EXPECT_EQ(std::count(sector.begin() + 14, sector.begin() + 256, 0), 256 - 14);

  c.key_source = vdev::KeySource::request;
  sector = read("T-DRIVER.DMP", 8192, 1024);
  EXPECT_EQ(std::count(sector.begin() + 256, sector.begin() + 1016, 0), 1016 - 256);

  // Reads end at the end of the file, short or not.
  EXPECT_EQ(read("T-DRIVER.DMP", 9000, 1024).size(), 216u);
  EXPECT_EQ(read("T-DRIVER.DMP", 9216, 512).size(), 0u);
  c.status_file = vdev::StatusFile::short_file;
  EXPECT_EQ(read("T-DRIVER.DMP", 8192, 1024).size(), 808u);
  c.status_file = vdev::StatusFile::missing;
  EXPECT_FALSE(device.exists("T-DRIVER.DMP"));
  EXPECT_EQ(read("T-DRIVER.DMP", 8192, 1024).size(), 0u);
}

TEST_F(DeviceTest, KeyRequestAnswersTheKeyAndClearsTheRestOfTheReply) {
  board->prg_rom().assign(0x8000, 0xA5);
  send({packet(14, 4, 0x8000, 1024)});
  send({packet(240, 4)});
  const auto reply = read("T-DRIVER.DMP", 0, 1024);
  const auto& key = device.config().key;
  EXPECT_TRUE(std::equal(key.begin(), key.end(), reply.begin()));
  EXPECT_EQ(std::count(reply.begin() + 8, reply.end(), 0), 1024 - 8);
}

TEST_F(DeviceTest, F90PortsRamAndTheDumpWindow) {
  const auto pattern = F90Board::default_pattern();
  size_t equal_to_index = 0, zeros = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    equal_to_index += pattern[i] == i;
    zeros += pattern[i] == 0;
  }
  EXPECT_LT(equal_to_index, 4u);
  EXPECT_LT(zeros, 2u);

  board->prg_rom()[0x7800] = 0x5C;  // what $F800 reads
  board->chr_rom()[0x0123] = 0x77;
  for (uint8_t i : {0, 5, 127}) {
    send({packet(14, 5, 0xF800, 1, {i})});
    EXPECT_EQ(cpu_read(0x4800), pattern[i]) << int(i);
  }
  send({packet(14, 5, 0xF800, 1, {0x85})});  // the index has 7 bits
  EXPECT_EQ(board->ram_index(), 5);
  send({packet(14, 5, 0x4800, 1, {0xAB})});
  EXPECT_EQ(board->expansion_ram()[5], 0xAB);
  EXPECT_EQ(cpu_read(0xF800), 0x5C);

  // Work RAM round-trips; a block write is bounded to one packet's data.
  send({packet(14, 5, 0x7FFE, 600, {1, 2, 3})});
  EXPECT_EQ(board->work_ram()[0x1FFE], 1);
  EXPECT_EQ(board->work_ram()[0x1FFF], 2);
  send({packet(14, 5, 0x8000, 1, {0x99})});  // ROM ignores writes
  EXPECT_EQ(board->prg_rom()[0], 0xFF);

  // "DUMP.ROM" shows the CPU bus, the PPU bus after a PPU command, and wraps at 64 KiB.
  EXPECT_EQ(read("DUMP.ROM", 0xF800, 1).at(0), 0x5C);
  EXPECT_EQ(read("DUMP.ROM", 0x17FFE, 2), (std::vector<uint8_t>{1, 2}));
  send({packet(14, 7, 0x0123, 1)});
  EXPECT_EQ(read("T-DRIVER.DMP", 0, 2), (std::vector<uint8_t>{0x77, 0}));
  EXPECT_EQ(device.dump_bus(), NesBus::ppu);
  EXPECT_EQ(read("DUMP.ROM", 0x0123, 1).at(0), 0x77);
  EXPECT_EQ(read("DUMP.ROM", 0xFFFFFF, 4).size(), 1u);
  cpu_read(0x6000);
  EXPECT_EQ(device.dump_bus(), NesBus::cpu);

  // A write list of 124 entries at most, then a read in the same packet.
  Packet list = packet(14, 19, 0x4800, 1);
  list[3] = 200;
  for (int i = 0; i < 124; ++i) {
    list[12 + 4 * i] = 0x00;
    list[13 + 4 * i] = 0xF8;
    list[14 + 4 * i] = static_cast<uint8_t>(i);
  }
  send({list});  // the CRC lands where a 125th entry would be
  EXPECT_EQ(board->ram_index(), 123);
  EXPECT_EQ(read("T-DRIVER.DMP", 0, 1).at(0), pattern[123]);

  // An empty slot reads 0xFF and swallows writes.
  device.insert_nes(nullptr);
  send({packet(14, 5, 0x6000, 1, {0})});
  EXPECT_EQ(cpu_read(0x6000), 0xFF);
  EXPECT_EQ(read("DUMP.ROM", 0x6000, 1).at(0), 0xFF);
}

TEST_F(DeviceTest, OldFirmwareDeciphersBlockProgramPayloads) {
  CipherContext context{};
  blowfish_set_key(context, device.config().key.data(), 8);
  auto ciphered = [&](uint8_t sub, uint16_t address, std::initializer_list<uint8_t> data) {
    Packet p = packet(14, sub, address, static_cast<uint16_t>(data.size()), data);
    payload_encrypt(context, p.data() + 12, 8);
    return p;
  };

  device.config().identity = "NES_HWRKA_FW400";
  EXPECT_EQ(device.firmware_level(), 400);
  // A 3-byte chunk: the padding travels enciphered with it.
  send({ciphered(9, 0x6000, {0xDE, 0xAD, 0xBF}), ciphered(128, 0x6010, {1, 2, 3, 4, 5, 6, 7, 8, 9})});
  send({ciphered(10, 0x0000, {0x42})});  // CHR ROM: nothing lands
  const auto& ram = board->work_ram();
  EXPECT_EQ(std::vector<uint8_t>(ram.begin(), ram.begin() + 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBF, 0}));
  EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 0x10, ram.begin() + 0x19),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(board->chr_rom()[0], 0xFF);

  // With a program setup, the command cycles go to the flash addresses (ROM here: ignored)
  // and the data still lands.
  send({packet(14, 11, 0, 0, {0x00, 0x80, 0, 0, 0xAA, 0x8A, 0, 0, 0x55, 0xA5, 0, 0, 0xAA, 0x8A})});
  ASSERT_TRUE(device.program_setup().has_value());
  EXPECT_EQ(*device.program_setup(), (std::array<uint16_t, 4>{0x8000, 0x8AAA, 0xA555, 0x8AAA}));
  send({ciphered(9, 0x6100, {0x31, 0x32})});
  EXPECT_EQ(ram[0x100], 0x31);
  EXPECT_EQ(ram[0x101], 0x32);

  // From 403 on, and for other boards, payloads are plain.
  for (const char* identity : {"NES_HWRKA_FW403", "NES_Q3V8_FW401"}) {
    device.config().identity = identity;
    EXPECT_EQ(device.firmware_level(), 403) << identity;
    send({packet(14, 9, 0x6200, 2, {0x61, 0x62})});
    EXPECT_EQ(ram[0x200], 0x61) << identity;
    EXPECT_EQ(ram[0x201], 0x62) << identity;
  }
  device.config().firmware = 300;
  EXPECT_EQ(device.firmware_level(), 300);

  send({packet(14, 18)});
  device.config().misc_byte = 0x3C;
  send({packet(14, 18)});
  EXPECT_EQ(read("T-DRIVER.DMP", 0, 1).at(0), 0x3C);
  Packet set = packet(14, 144);
  set[3] = 0x9A;
  send({set});
  EXPECT_EQ(device.setting_byte(), 0x9A);
}

TEST_F(DeviceTest, SeamListsTheDrivesAndServesTheirFiles) {
  vdev::Device other;
  vdev::attach({{kVirtualRoot, true, &device}, {"/v/F/", false, nullptr}, {"/v/G/", true, &other}});

  char roots[64];
  std::memset(roots, 'x', sizeof roots);
  const uint32_t used = plat_list_drive_roots(roots, sizeof roots);
  const std::string listed(roots, used + 1);
  EXPECT_EQ(listed, std::string(kVirtualRoot) + '\0' + "/v/F/" + '\0' + "/v/G/" + '\0' + '\0');
  EXPECT_EQ(used + 1, std::string(kVirtualRoot).size() + 1 + 12 + 1);
  // A root that does not fit is left out, and the list still ends in an empty text.
  EXPECT_EQ(plat_list_drive_roots(roots, std::string(kVirtualRoot).size() + 2),
            std::string(kVirtualRoot).size() + 1);
  EXPECT_TRUE(plat_drive_is_removable(kVirtualRoot));
  EXPECT_FALSE(plat_drive_is_removable("/v/F/"));
  EXPECT_FALSE(plat_drive_is_removable("/"));

  const std::string root = kVirtualRoot;
  Packet p = packet(14, 5, 0x6000, 1, {0x7E});
  frame(p);
  EXPECT_EQ(plat_write_file((root + "CMD3.CMD").c_str(), p.data(), 512), 512u);
  EXPECT_EQ(board->work_ram()[0], 0x7E);
  EXPECT_EQ(other.packets().size(), 0u);
  EXPECT_EQ(plat_file_size((root + "t-driver.dmp").c_str()), vdev::kReplyFileSize);
  EXPECT_EQ(plat_file_size((root + "DUMP.ROM").c_str()), vdev::kDumpFileSize);
  EXPECT_EQ(plat_file_size("/v/F/T-DRIVER.DMP"), 0u);
  EXPECT_EQ(plat_write_file("/v/F/CMD0.CMD", p.data(), 512), 0u);

  uint8_t block[1024];
  EXPECT_EQ(plat_read_at((root + "T-DRIVER.DMP").c_str(), block, 1024, 8192, true), 1024u);
  EXPECT_EQ(plat_read_at((root + "T-DRIVER.DMP").c_str(), block, 1024, 8193, true), 0u);
  EXPECT_EQ(plat_read_at((root + "sub/T-DRIVER.DMP").c_str(), block, 1024, 8192, true), 0u);
  EXPECT_EQ(plat_read_at((root + "DUMP.ROM").c_str(), block, 1024, 0x6000, false), 1024u);
  EXPECT_EQ(block[0], 0x7E);

  // Everything else is the operating system's, such as the save file in the working folder.
  const char* local = "vdev_seam_test.sav";
  EXPECT_EQ(plat_write_file(local, p.data(), 16), 16u);
  EXPECT_EQ(plat_file_size(local), 16u);
  EXPECT_TRUE(plat_remove_file(local));

  vdev::detach();
  EXPECT_EQ(plat_file_size((root + "DUMP.ROM").c_str()), 0u);
}

}  // namespace

namespace {

// Windows takes an unbuffered read only as whole 512-byte sectors at a whole-sector offset into
// a sector-aligned buffer; the virtual device refuses any other, so that every test runs under
// that rule, and the platform layer's own reads keep it whatever buffer the caller hands over.
TEST(UnbufferedReadRule, TheDeviceRefusesWhatWindowsWouldAndThePlatformNeverAsksIt) {
  reset_program_state();
  vdev::Device d;
  vdev::attach({{kVirtualRoot, true, &d}});
  const std::string dump = std::string(kVirtualRoot) + "DUMP.ROM";
  alignas(4096) static uint8_t room[8192 + 4096];
  const PlatformOps& device_ops = plat_current_ops();
  struct Case {
    const char* what;
    size_t buffer_offset;
    int32_t offset;
    uint32_t count;
    bool refused;
  };
  const Case cases[] = {
      {"whole sectors, aligned", 0, 1024, 2048, false},
      {"buffer off by one", 1, 1024, 2048, true},
      {"buffer off by 256", 256, 0, 512, true},
      {"offset within a sector", 0, 100, 1024, true},
      {"length within a sector", 0, 0, 1000, true},
  };
  uint32_t refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t* buffer = room + c.buffer_offset;
    const uint32_t got = device_ops.read_at(dump.c_str(), buffer, c.count, c.offset, true);
    refused += c.refused ? 1 : 0;
    EXPECT_EQ(d.refused_reads(), refused);
    EXPECT_EQ(got, c.refused ? 0u : c.count);
    // A buffered read is no unbuffered one: the rule does not apply.
    EXPECT_EQ(device_ops.read_at(dump.c_str(), buffer, c.count, c.offset, false), c.count);
  }
  // Through the platform layer a caller's buffer anywhere in memory is served whole.
  const uint32_t before = d.refused_reads();
  std::vector<uint8_t> via_platform(4096 + 1);
  std::vector<uint8_t> direct(4096);
  ASSERT_EQ(device_ops.read_at(dump.c_str(), room, 4096, 0x8000, true), 4096u);
  direct.assign(room, room + 4096);
  EXPECT_EQ(plat_read_at(dump.c_str(), via_platform.data() + 1, 4096, 0x8000, true), 4096u);
  EXPECT_TRUE(std::equal(direct.begin(), direct.end(), via_platform.begin() + 1));
  EXPECT_EQ(d.refused_reads(), before);
  vdev::detach();
  reset_program_state();
}

}  // namespace
