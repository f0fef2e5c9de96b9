// Packet building shared by the N64 family's source files (not part of its interface).
#pragma once
#include <cstdint>

namespace n64_packets {

inline void put_le16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

inline void put_le32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Where a batched write's packets carry their fields: the bus writes put the address at byte
// 3, the page and save-memory writes leave byte 3 free (zero, or the memory selector).
struct Layout {
  uint32_t address_at;
  uint32_t length_at;
  uint32_t data_at;
};
inline constexpr Layout kBusLayout{3, 7, 9};
inline constexpr Layout kWideLayout{4, 8, 12};

// Byte 1 and 2 of a zeroed packet.
void start(uint8_t* packet, uint8_t sub);

// Sends a zeroed packet of `sub` with nothing else in it.
void send_bare(uint8_t sub);

// How a batch carries each chunk's bytes: as they are, or pair-exchanged with the first
// cipher block enciphered.
enum class Payload : uint8_t { plain, ciphered };

// Builds all packets of one write into one zeroed buffer of ceil(length / chunk) packets and
// hands it to the transport in one call (one command file; an empty one for length 0).
// Packet k carries source bytes k * chunk onwards, at most `chunk`, at address + k * chunk.
// `byte3` goes into byte 3 of wide-layout packets. Returns false, having sent nothing, when
// the buffer cannot be had or would exceed what one command file can hold.
bool send_batch(uint8_t sub, Layout layout, uint8_t byte3, uint32_t address, const uint8_t* source,
                uint32_t length, uint32_t chunk, Payload payload);

}  // namespace n64_packets
