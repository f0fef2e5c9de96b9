// The families at the edges where a read or write must fail honestly: window reads past what
// the file offsets reach, writes enciphered with a key the device never gave, and commands or
// replies that were lost. None of them may hand out bytes the cartridge did not give, or send
// bytes the cartridge would take for something else.
#include <functional>
#include <string>

#include "families/fam17.h"
#include "families/fam19.h"
#include "families/fam2.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "nes/nes_family.h"
#include "tests/fams_support.h"
#include "tests/fault_ops.h"
#include "tests/n64_support.h"

namespace {

class FamilyEdges : public FamilyTest {
 protected:
  void SetUp() override {
    FamilyTest::SetUp();
    memory = vdev::pattern_memory(vdev::Fam17Cartridge::kSize);
    insert(std::make_unique<vdev::Fam17Cartridge>(memory));
  }
  Bytes memory;
};

TEST_F(FamilyEdges, WindowReadsPastWhatTheFileHoldsDeliverNothingAndSaySo) {
  sfc_protocol_level = 320;  // the whole bus at offset = address, no half select
  struct Case {
    const char* name;
    std::function<void(uint8_t*)> read;
    bool window_read;  // the read reaches "DUMP.ROM" (at the address as given)
    uint64_t offset;
  };
  const Case cases[] = {
      // Not the bytes at offset 0: the block read does not drop address bits.
      {"fam17 at 16 MiB", [](uint8_t* b) { fam17_read_block(0x01000000, b, 1024); }, true,
       0x01000000},
      {"fam17 past 2^31", [](uint8_t* b) { fam17_read_block(0x80000000, b, 1024); }, false, 0},
      {"sfc past 2^31", [](uint8_t* b) { sfc_read_block(0x80000000, b, 1024); }, false, 0},
      {"wsc past 2^31", [](uint8_t* b) { wsc_read_rom(0x80000400, b, 1024); }, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    g_link.io_failed = false;
    Bytes got(1024, 0xEE);
    c.read(got.data());
    EXPECT_TRUE(g_link.io_failed);
    EXPECT_EQ(got, Bytes(1024, 0xEE)) << "nothing was handed out as cartridge bytes";
    EXPECT_TRUE(command_files().empty());
    const auto dumps = events(Kind::dump_read);
    ASSERT_EQ(dumps.size(), c.window_read ? 1u : 0u);
    if (c.window_read) {
      EXPECT_EQ(dumps[0].offset, c.offset);
    }
  }
  // Within the window the block read delivers and raises nothing.
  g_link.io_failed = false;
  Bytes got(1024);
  fam17_read_block(0xFFFC00, got.data(), 1024);
  EXPECT_FALSE(g_link.io_failed);
  EXPECT_EQ(got, Bytes(memory.end() - 1024, memory.end()));
}

// A key that never came from the device (its query or request got no answer) enciphers no
// write: the cartridge would take the bytes as something else. Plain writes still go.
TEST_F(FamilyEdges, CipheredWritesWithAKeyThatNeverCameSendNothing) {
  const Bytes data = pattern_bytes(600);
  const uint8_t* d = data.data();
  struct Case {
    const char* name;
    std::function<void()> write;
    bool ciphered;
  };
  const Case cases[] = {
      {"NES block program below 403",
       [&] {
         g_link.protocol_level = 400;
         nes_prg_program_block(0x8000, d, 600);
       },
       true},
      {"NES CHR program below 403",
       [&] {
         g_link.protocol_level = 402;
         nes_chr_program_block(0x0000, d, 100);
       },
       true},
      {"NES block program at 403, plain",
       [&] {
         g_link.protocol_level = 403;
         nes_prg_program_block(0x8000, d, 600);
       },
       false},
      {"WSC protected write, flag on",
       [&] {
         wsc_cipher_flag = true;
         wsc_write_block_sub10(0x100, d, 600);
       },
       true},
      {"WSC protected write, flag off",
       [&] {
         wsc_cipher_flag = false;
         wsc_write_block_sub12(0x100, d, 600);
       },
       false},
      {"fam19 enciphered", [&] { fam19_write_block_enciphered(0x100, d, 600); }, true},
      {"fam19 blank runs left out", [&] { fam19_write_block_skip_blank(0x100, d, 600); }, true},
      {"fam19 plain", [&] { fam19_write_block(0x80, d, 600); }, false},
      {"fam2 enciphered", [&] { fam2_write_block_enciphered(0x100, d, 600); }, true},
      {"fam2 plain", [&] { fam2_write_block(0x100, d, 600); }, false},
  };
  for (const Case& c : cases) {
    for (const bool missing : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (missing ? ", key missing" : ", key from the device"));
      device.clear_trace();
      g_link.io_failed = false;
      g_link.key_missing = missing;
      c.write();
      const bool refused = missing && c.ciphered;
      EXPECT_EQ(command_files().empty(), refused);
      EXPECT_EQ(g_link.io_failed, refused);
    }
  }
}

TEST_F(FamilyEdges, Fam2BlockReadCountsOnlyWhatTheReplyDelivered) {
  insert(std::make_unique<vdev::Fam2Cartridge>(vdev::pattern_memory(vdev::Fam2Cartridge::kSize)));
  struct Case {
    const char* what;
    Fault fault;
    uint32_t expected;
  };
  const Case cases[] = {
      {"reply read", Fault::none, 1000},
      {"command lost: the reply is not this read's", Fault::write_error, 1000},
      {"reply lost", Fault::read_error, 0},
      {"reply file gone", Fault::reply_missing, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_link.io_failed = false;
    Bytes got(1000);
    fault_install(c.fault, c.fault == Fault::none ? 0 : 1, kVirtualRoot);
    EXPECT_EQ(fam2_read_block(0x1000, got.data(), 1000), c.expected);
    fault_remove();
    EXPECT_EQ(g_link.io_failed, c.fault != Fault::none);
  }
}

class N64Edges : public n64_test::N64Test {};

TEST_F(N64Edges, PageWriteWhoseCommandWasLostIsNotReportedWritten) {
  const Bytes data = pattern_bytes(256);
  for (const char* identity : {"N64_HWRKB_FW320", "N64_HWRKB_FW400"}) {
    SCOPED_TRACE(identity);
    identify_as(identity);
    for (const Fault fault : {Fault::write_error, Fault::short_write, Fault::no_space}) {
      SCOPED_TRACE(fault_name(fault));
      fault_install(fault, 1, kVirtualRoot);
      EXPECT_FALSE(n64_write_page(0x700, data.data(), 256));
      fault_remove();
    }
    EXPECT_TRUE(n64_write_page(0x700, data.data(), 256));
  }
}

TEST_F(N64Edges, CipheredWriteWithAKeyThatNeverCameSendsNothing) {
  const Bytes data = pattern_bytes(600);
  identify_as("N64_HWRKB_FW320");  // below 400: sub-commands 5 and 7 travel enciphered
  g_link.key_missing = true;
  EXPECT_FALSE(n64_write_block_sub5(0x10000000, data.data(), 600));
  EXPECT_FALSE(n64_write_block_sub7(0x10000000, data.data(), 600));
  EXPECT_TRUE(device.trace().empty());
  EXPECT_TRUE(g_link.io_failed);
  g_link.key_missing = false;
  EXPECT_TRUE(n64_write_block_sub5(0x10000000, data.data(), 600));
}

}  // namespace
