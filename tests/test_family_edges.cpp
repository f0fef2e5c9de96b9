// The families at the edges where a read or write must fail honestly: window reads past what
// the file offsets reach, writes enciphered with a key the device never gave, and commands or
// replies that were lost. None of them may hand out bytes the cartridge did not give, or send
// bytes the cartridge would take for something else.
#include <functional>
#include <string>

#include "families/fam17.h"
#include "families/fam19.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "tests/fams_support.h"

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

}  // namespace
