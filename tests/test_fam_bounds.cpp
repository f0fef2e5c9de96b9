// Bounds of the families' batched writes: a length whose packets would not fit one command
// file sends nothing, rather than sizing the packet buffer with a count that wrapped around
// (which sent an empty command or wrote past the buffer) and reading past the caller's data.
#include <functional>

#include "families/fam17.h"
#include "families/fam19.h"
#include "families/fam2.h"
#include "families/fam20.h"
#include "tests/fams_support.h"

namespace {

class FamBoundsTest : public FamilyTest {};

TEST_F(FamBoundsTest, WritesTooLongForOneCommandFileSendNothing) {
  const Bytes source = pattern_bytes(16);
  const uint8_t* s = source.data();
  const uint32_t words[1] = {0};
  const uint16_t values[1] = {0};
  constexpr uint32_t kHuge = UINT32_MAX;
  constexpr uint32_t kManyPackets = uint32_t{1} << 23;  // 4 GiB of packets
  const struct {
    const char* name;
    std::function<void()> call;
  } cases[] = {
      {"fam20_write_block", [&] { fam20_write_block(0, 0, 0, s, kHuge); }},
      {"fam20_write_block 3.5 GiB", [&] { fam20_write_block(0, 0, 0, s, 0xE0000000u); }},
      {"fam20_write_block_addr32", [&] { fam20_write_block_addr32(0, s, kHuge); }},
      {"fam19_write_block", [&] { fam19_write_block(0, s, kHuge); }},
      {"fam19_write_block_enciphered", [&] { fam19_write_block_enciphered(0, s, kHuge); }},
      {"fam19_write_block_skip_blank", [&] { fam19_write_block_skip_blank(0, s, kHuge); }},
      {"fam19_write_word_list", [&] { fam19_write_word_list(words, values, kManyPackets); }},
      {"fam2_write_block", [&] { fam2_write_block(0, s, kHuge); }},
      {"fam2_write_block_enciphered",
       [&] { EXPECT_EQ(fam2_write_block_enciphered(0, s, kHuge), 0u); }},
      {"fam17_write_bytes", [&] { fam17_write_bytes(0, s, kManyPackets); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.clear_trace();
    c.call();
    EXPECT_TRUE(command_files().empty());
  }
}

}  // namespace
