#include "families/n64_packets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "families/n64.h"
#include "link/cipher.h"
#include "link/transport.h"

namespace n64_packets {

namespace {
constexpr uint32_t kCipherBlock = 8;
constexpr uint64_t kCommandFileMax = UINT32_MAX - UINT32_MAX % kPacketSize;

// The device takes each chunk with its byte pairs exchanged and the first cipher block
// enciphered. The bytes are already in the packet, zero beyond them, so an odd or short last
// chunk is exchanged and enciphered with that zero padding inside the packet and never past
// the caller's data; its length field still names only the real bytes.
void cipher_chunk(uint8_t* data, uint32_t n) {
  const uint32_t padded = std::max<uint32_t>((n + 1) & ~1u, kCipherBlock);
  for (uint32_t k = 0; k + 1 < padded; k += 2) std::swap(data[k], data[k + 1]);
  encrypt_payload(data, kCipherBlock);
}
}  // namespace

void start(uint8_t* packet, uint8_t sub) {
  packet[1] = kFamilyN64;
  packet[2] = sub;
}

void send_bare(uint8_t sub) {
  uint8_t packet[kPacketSize] = {};
  start(packet, sub);
  send_command(packet, kPacketSize);
}

bool send_batch(uint8_t sub, Layout layout, uint8_t byte3, uint32_t address, const uint8_t* source,
                uint32_t length, uint32_t chunk, Payload payload) {
  const uint64_t packets = (uint64_t{length} + chunk - 1) / chunk;
  const uint64_t size = packets * kPacketSize;
  if (size > kCommandFileMax || (length != 0 && source == nullptr)) return false;
  if (payload == Payload::ciphered && !cipher_key_usable()) return false;
  // At least one packet's room, so that an empty command still hands over a real buffer.
  const size_t room = static_cast<size_t>(std::max<uint64_t>(size, kPacketSize));
  std::unique_ptr<uint8_t[]> batch(new (std::nothrow) uint8_t[room]());
  if (!batch) return false;
  for (uint64_t k = 0; k < packets; ++k) {
    const uint32_t offset = static_cast<uint32_t>(k * chunk);
    const uint32_t n = std::min(chunk, length - offset);
    uint8_t* packet = batch.get() + k * kPacketSize;
    start(packet, sub);
    if (layout.address_at != 3) packet[3] = byte3;
    put_le32(packet + layout.address_at, address + offset);
    put_le16(packet + layout.length_at, static_cast<uint16_t>(n));
    std::memcpy(packet + layout.data_at, source + offset, n);
    if (payload == Payload::ciphered) cipher_chunk(packet + layout.data_at, n);
  }
  const auto bytes = static_cast<uint32_t>(size);
  return send_command(batch.get(), bytes) == bytes;
}

}  // namespace n64_packets
