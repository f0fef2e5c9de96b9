// Identity rules: which device texts give which protocol level, and when the cipher is keyed.
#include <cstring>
#include <string>

#include "link/cipher.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "tests/support.h"

namespace {

class IdentityTest : public VirtualDeviceTest {
 protected:
  // Discovers the device, presets the level, identifies; returns whether the cipher was keyed.
  bool identify(const std::string& identity, int32_t preset = 7) {
    device.config().identity = identity;
    // Discovery reads the sector as the previous identity left it, which may not pass as a
    // name (an empty identity); the root and date it sets are all that is needed here.
    open_device();
    cipher_reset_state();
    g_link.protocol_level = preset;
    identify_device();
    return g_cipher.p[0] != 0;
  }
};

TEST_F(IdentityTest, LevelsAndKeying) {
  struct Case {
    const char* identity;
    int32_t level;
    bool keyed;
  } cases[] = {
      {"NES_Q3V8_FW401", 403, false}, {"NES_Q3V8_FW499", 403, false},
      {"NES_Q3V8_FW399", 7, false},   {"NES_HWRKA_FW400", 400, true},
      {"NES_HWRKA_FW403", 403, false}, {"NES_HWRKA_FW", 0, true},
      {"NES_HWRKA_FW-5", -5, true},   {"SFC_HWRKA_FW400", 7, false},
      {"", 7, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(identify(c.identity) , c.keyed) << c.identity;
    EXPECT_EQ(g_link.protocol_level, c.level) << c.identity;
  }
}

TEST_F(IdentityTest, KeyIsTheDeviceKey) {
  identify("NES_HWRKA_FW400");
  CipherContext expected{};
  blowfish_set_key(expected, device.config().key.data(), 8);
  EXPECT_EQ(0, std::memcmp(&expected, &g_cipher, sizeof expected));
}

TEST_F(IdentityTest, GenBoardsGoByTheUnsignedDate) {
  const std::pair<const char*, int32_t> cases[] = {
      {"20210925", 7}, {"20210926", 403}, {"-1", 403}, {"", 7}};
  for (const auto& [date, level] : cases) {
    device.config().date_digits = date;
    identify("GEN_HWRKA_FW319");
    EXPECT_EQ(g_link.protocol_level, level) << "date " << date;
  }
}

TEST_F(IdentityTest, SendsTheIdentityCommandAndReadsTheStatusSector) {
  identify("NES_Q3V8_FW403");
  ASSERT_FALSE(device.packets().empty());
  EXPECT_EQ(device.packets().back().family, 14);
  EXPECT_EQ(device.packets().back().sub, 1);
  const auto& last = device.trace().back();
  EXPECT_EQ(last.kind, vdev::TraceEvent::Kind::reply_read);
  EXPECT_EQ(last.offset, 8192u);
  EXPECT_EQ(last.count, 1024u);
}

TEST_F(IdentityTest, UnreadableIdentityLeavesTheLevel) {
  identify("NES_HWRKA_FW400");
  device.config().status_file = vdev::StatusFile::missing;
  g_link.protocol_level = 321;
  identify_device();
  EXPECT_EQ(g_link.protocol_level, 321);
}

}  // namespace
