// Bus writes at several addresses in one command file (sub-command 4 packets).
#include <cstring>

#include "families/command_buffer.h"
#include "families/n64.h"
#include "families/n64_packets.h"

bool n64_write_runs(const N64BusRun* runs, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (runs[i].length > kN64WriteChunk || (runs[i].length != 0 && runs[i].data == nullptr)) {
      return false;
    }
  }
  auto batch = command_buffer(count);
  if (!batch) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* packet = batch.get() + uint64_t{i} * kPacketSize;
    n64_packets::start(packet, kN64SubWrite);
    n64_packets::put_le32(packet + 3, runs[i].address);
    n64_packets::put_le16(packet + 7, static_cast<uint16_t>(runs[i].length));
    if (runs[i].length != 0) std::memcpy(packet + 9, runs[i].data, runs[i].length);
  }
  const uint32_t bytes = count * kPacketSize;
  return send_command(batch.get(), bytes) == bytes;
}
