// Flash identification and the work-RAM test: the decoders' bounds, the 29GL choice and its
// memory across runs, and what the work-RAM test reports for a good and a worn RAM.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "nes/flash_id.h"
#include "nes/image_buffer.h"
#include "nes/nes_family.h"
#include "nes/prg_flash.h"
#include "tests/flash_job_support.h"

namespace {

struct CfiCase {
  const char* what;
  bool odd_letters;
  bool even_letters;
  uint8_t odd_code;   // at 0x4F
  uint8_t even_code;  // at 0x4E
  uint32_t size;
};

TEST(FlashId, CfiSizeComesFromTheSignatureOffsets) {
  const CfiCase cases[] = {
      {"odd offsets", true, false, 21, 0, 0x200000},
      {"even offsets", false, true, 0, 21, 0x200000},
      {"both: even wins", true, true, 23, 20, 0x100000},
      {"no signature", false, false, 21, 21, 0},
      {"code 18 is too small", false, true, 0, 18, 0},
      {"code 19 is the smallest", false, true, 0, 19, 0x80000},
      {"code 28 is the largest", false, true, 0, 28, 0x10000000},
      {"code 29 is too large", false, true, 0, 29, 0},
      {"code 255", true, false, 255, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t buffer[1024] = {};
    if (c.odd_letters) buffer[0x21] = 'Q', buffer[0x23] = 'R', buffer[0x25] = 'Y';
    if (c.even_letters) buffer[0x20] = 'Q', buffer[0x22] = 'R', buffer[0x24] = 'Y';
    buffer[0x4F] = c.odd_code;
    buffer[0x4E] = c.even_code;
    EXPECT_EQ(cfi_chip_size(buffer), c.size);
  }
}

TEST(FlashId, InterleavedCfiNeedsZerosBeforeEachLetter) {
  struct Case {
    uint8_t signature[6];
    uint8_t code;
    uint32_t size;
  } cases[] = {
      {{0x00, 'Q', 0x00, 'R', 0x00, 'Y'}, 22, 0x400000},
      {{0x00, 'Q', 0x00, 'R', 0x00, 'Y'}, 29, 0},
      {{0x01, 'Q', 0x00, 'R', 0x00, 'Y'}, 22, 0},
      {{'Q', 0x00, 'R', 0x00, 'Y', 0x00}, 22, 0},
  };
  for (const auto& c : cases) {
    uint8_t buffer[1024] = {};
    std::memcpy(buffer + 32, c.signature, 6);
    buffer[0x4F] = c.code;
    EXPECT_EQ(cfi_chip_size_interleaved(buffer), c.size);
  }
}

TEST(FlashId, TwentyNineGlIdentityInItsThreeBusForms) {
  struct Case {
    uint8_t id[4];
    bool is_29gl;
  } cases[] = {
      {{0x00, 0x01, 0x22, 0x7E}, true},  {{0x01, 0x00, 0x7E, 0x22}, true},
      {{0x01, 0x01, 0x7E, 0x7E}, true},  {{0x01, 0x01, 0x7E, 0x7F}, false},
      {{0x01, 0x00, 0x22, 0x7E}, false}, {{0x00, 0x00, 0x00, 0x00}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_29gl_id(c.id), c.is_29gl);
}

class FlashIdentify : public FlashJobTest {};

// Identification bytes 01 xx 7E choose the 480-byte program command; others the 498-byte one.
TEST_F(FlashIdentify, ChoosesTheProgramCommandFromTheIdentificationBytes) {
  struct Case {
    const char* chip_id;
    bool is_29gl;
  } cases[] = {{"01,7E", true}, {"01,7F", false}, {"00,7E", false}, {"01,A4", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chip_id);
    TearDown();
    SetUp();
    insert("identify-flash", {{"chip-id", c.chip_id}, {"chip-size", "4M"}});
    const std::string out = captured([] { identify_flash(); });
    const std::string size_line = "Flash chip size: 4194304\n";
    EXPECT_EQ(out.substr(49), c.is_29gl ? "29GL\n" + size_line : size_line);
    EXPECT_EQ(flash_is_29gl, c.is_29gl);
    EXPECT_EQ(prg_program_routine,
              c.is_29gl ? &nes_prg_program_block_29gl : &nes_prg_program_block);
    EXPECT_EQ(flash_chip_size, 0x400000u);
  }
}

TEST_F(FlashIdentify, AnEarlierTwentyNineGlRunKeepsItsCommandAndProgramsIn480BytePackets) {
  insert("identify-flash", {{"chip-id", "01,7E"}});
  captured([] { identify_flash(); });
  // Another chip in the same run: the choice stays.
  insert("prg-flash-8001-one-sector", {{"erase-polls", "0"}});
  const std::string out = captured([] { identify_flash(); });
  EXPECT_NE(out.find("29GL\n"), std::string::npos);
  EXPECT_EQ(prg_program_routine, &nes_prg_program_block_29gl);

  device.clear_trace();
  const auto image = flash_image(0x2000);
  bool verified = false;
  captured([&] { verified = prg_flash_8001_one_sector(image.data(), 0x2000); });
  EXPECT_TRUE(verified);
  // The bank travels as one command file of 480-byte sub-command 128 packets.
  size_t program_files = 0;
  for (const auto& file : command_files()) {
    if (file.data[2] != 128) continue;
    ++program_files;
    ASSERT_EQ(file.data.size(), 18u * 512);  // 17 × 480 + 32
    for (size_t at = 0; at < file.data.size(); at += 512) {
      const uint16_t count = static_cast<uint16_t>(file.data[at + 8] | (file.data[at + 9] << 8));
      EXPECT_EQ(count, at + 512 < file.data.size() ? 480 : 32);
    }
  }
  EXPECT_EQ(program_files, 1u);
}

TEST_F(FlashIdentify, NoChipGivesSizeZero) {
  insert("none");
  const std::string out = captured([] { identify_flash(); });
  EXPECT_EQ(out, hex_line(std::vector<uint8_t>(16, 0xFF).data()) + "Flash chip size: 0\n");
  EXPECT_EQ(prg_program_routine, &nes_prg_program_block);
}

TEST_F(FlashIdentify, WorkRamTestReportsEachPatternAndLeavesTheBufferZero) {
  struct Case {
    const char* stuck;  // work RAM byte 0: bit 0 stuck at 0 fails only the 0xA5 pattern
    std::string output;
    bool passed;
  } cases[] = {
      {nullptr, "0xFF pass\n" + repeat("5A ", 16) + "\n0x00 pass\n" + repeat("A5 ", 16) + "\n",
       true},
      {"0:0x01:0",
       "0xFF pass\n" + repeat("5A ", 16) + "\n0x00 not pass\nA4 " + repeat("A5 ", 15) + "\n",
       false},
      {"0x1FFF:0x80:0x80",
       "0xFF not pass\n" + repeat("5A ", 16) + "\n0x00 pass\n" + repeat("A5 ", 16) + "\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stuck ? c.stuck : "none");
    TearDown();
    SetUp();
    vdev::CartridgeOptions options;
    if (c.stuck) options["ram-stuck-bit"] = c.stuck;
    insert("work-ram-test", options);
    std::memset(g_image_buffer, 0x77, 0x9000);
    bool passed = !c.passed;
    const std::string out = captured([&] { passed = work_ram_test(nullptr, 0); });
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(passed, c.passed);
    EXPECT_TRUE(
        std::all_of(g_image_buffer, g_image_buffer + 0x8000, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(g_image_buffer[0x8000], 0x77);
  }
}

}  // namespace
