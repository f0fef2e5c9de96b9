// The probed save memory of the N64 slot: sub-commands 10 to 15, the same on every board.
#include <algorithm>
#include <cstring>

#include "families/n64.h"
#include "families/n64_packets.h"
#include "link/transport.h"

using n64_packets::put_le16;
using n64_packets::put_le32;

uint8_t g_n64_memory_selector = 0;

namespace {
// Sends `sub` with the selector and returns the 1024-byte reply block (zero when unread).
void ask(uint8_t sub, uint8_t* reply) {
  uint8_t packet[kPacketSize] = {};
  n64_packets::start(packet, sub);
  packet[3] = g_n64_memory_selector;
  send_command(packet, kPacketSize);
  read_reply(0, reply, kReplyBlock);
}
}  // namespace

uint8_t n64_probe_memory(uint8_t* identification) {
  uint8_t reply[kReplyBlock] = {};
  n64_packets::send_bare(kN64SubProbe);
  read_reply(0, reply, kReplyBlock);
  g_n64_memory_selector = reply[0];
  if (identification) std::memcpy(identification, reply + 1, kN64MemoryIdSize);
  return reply[0];
}

uint8_t n64_memory_status() {
  uint8_t reply[kReplyBlock] = {};
  ask(kN64SubStatus, reply);
  return reply[0] & 1;
}

uint32_t n64_read_memory(uint32_t address, uint8_t* destination, uint32_t length) {
  if (destination == nullptr && length != 0) return 0;
  if (address == 0) n64_packets::send_bare(kN64SubReadStart);
  uint32_t delivered = 0;
  uint8_t packet[kPacketSize];
  for (uint32_t done = 0; done < length;) {
    const uint32_t chunk = std::min(kN64MemoryReadChunk, length - done);
    std::memset(packet, 0, sizeof packet);
    n64_packets::start(packet, kN64SubReadChunk);
    packet[3] = g_n64_memory_selector;
    put_le32(packet + 4, address);
    put_le16(packet + 8, static_cast<uint16_t>(chunk));
    send_command(packet, kPacketSize);
    delivered += read_reply(0, destination + done, chunk);
    address += chunk;
    done += chunk;
  }
  return delivered;
}

uint32_t n64_write_memory(uint32_t address, const uint8_t* source, uint32_t length) {
  if (address == 0) n64_packets::send_bare(kN64SubWriteStart);
  const uint32_t masked = length & kN64MemoryLengthMask;
  const bool sent = n64_packets::send_batch(kN64SubWriteChunk, n64_packets::kWideLayout,
                                            g_n64_memory_selector, address, source, masked,
                                            kN64MemoryWriteChunk, n64_packets::Payload::plain);
  return sent ? masked : 0;
}
