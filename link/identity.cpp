#include "link/identity.h"

#include <cstdint>
#include <cstring>

#include "link/cipher.h"
#include "link/link_state.h"
#include "link/text.h"
#include "link/transport.h"

namespace {
constexpr uint8_t kIdentitySub = 1;
constexpr size_t kPrefixLength = 12;
// From this firmware on, payloads travel plain and block reads use the window.
constexpr int32_t kFastLevel = 403;
// GEN boards dated from this day on speak the fast protocol.
constexpr uint32_t kGenFastDate = 20210926;

bool has_prefix(const uint8_t* text, const char* prefix) {
  return std::memcmp(text, prefix, kPrefixLength) == 0;
}
}  // namespace

void identify_device() {
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamilyNes;
  packet[2] = kIdentitySub;
  send_command(packet, sizeof packet);

  uint8_t sector[kStatusSectorSize] = {};
  read_reply(kStatusSectorOffset, sector, sizeof sector);

  if (has_prefix(sector, "NES_Q3V8_FW4")) g_link.protocol_level = kFastLevel;
  if (has_prefix(sector, "NES_HWRKA_FW")) {
    g_link.protocol_level =
        parse_decimal(sector + kPrefixLength, sizeof sector - kPrefixLength);
    if (g_link.protocol_level < kFastLevel) cipher_set_device_key();
  }
  if (has_prefix(sector, "GEN_HWRKA_FW") && g_link.date_number >= kGenFastDate) {
    g_link.protocol_level = kFastLevel;
  }
}
