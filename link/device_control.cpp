#include "link/device_control.h"

#include <cstring>
#include <memory>
#include <new>

#include "link/link_state.h"
#include "link/transport.h"
#include "platform/hid.h"

namespace {

// Family 240 packet fields.
constexpr uint32_t kSysFlag = 3;      // boot flag, repeated at byte 4
constexpr uint32_t kSysValue = 3;     // 32-bit little-endian address or value
constexpr uint32_t kSysLength = 7;    // 16-bit piece length of a block write
constexpr uint32_t kSysData = 12;

// HID report fields.
constexpr uint32_t kHidAddress = 1;   // 24-bit little-endian
constexpr uint32_t kHidValue = 1;     // 32-bit little-endian parameter
constexpr uint32_t kHidLength = 4;    // 16-bit piece length of a block write
constexpr uint32_t kHidData = 6;
constexpr uint32_t kHidBootWord = 4;  // "TOOB": the word BOOT read little-endian
constexpr uint32_t kHid32Length = 4;
constexpr uint32_t kHid32Data = 32;

// Most data one block-write command file can carry: its length must stay a 32-bit count.
constexpr uint32_t kSysBlockMax = (UINT32_MAX / kPacketSize) * kSysBlockPiece;

void put_le16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put_le24(uint8_t* at, uint32_t value) {
  put_le16(at, value);
  at[2] = static_cast<uint8_t>(value >> 16);
}

void put_le32(uint8_t* at, uint32_t value) {
  put_le24(at, value);
  at[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t le32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// Answer bytes an exchange got: none when the report did not go out.
struct Exchanged {
  bool sent;
  int32_t answered;  // data bytes of the answer; 0 or less: none came
};

// One report out and its answer back; a time-out or error leaves the answer as it was. The
// answer is read even when the report did not go out, as it always is. A lost report, and a
// missing answer where the answer carries what the caller asked for, set g_link.io_failed:
// the operations keep their own results, and that flag is how a caller learns of the loss.
Exchanged exchange(const uint8_t* report, uint8_t* answer, bool answer_wanted) {
  const bool sent = hid_write_report(kHidDeviceIndex, report, kHidReportSize, kHidTimeoutMs) > 0;
  const int32_t answered =
      hid_read_report(kHidDeviceIndex, answer, kHidReportSize, kHidTimeoutMs);
  if (!sent || (answer_wanted && answered <= 0)) g_link.io_failed = true;
  return {sent, sent ? answered : 0};
}

uint32_t send_system(uint8_t sub, uint32_t value) {
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamilySystem;
  packet[2] = sub;
  put_le32(packet + kSysValue, value);
  return send_command(packet, sizeof packet);
}

// The block write over HID, code 24 or 25. The report is zeroed once: after a short last piece
// its tail still holds the previous piece, and the length field says how much counts. Stops at
// the first report that did not go out, so no later piece lands behind a hole: false then.
bool write_block_reports(uint8_t code, uint32_t address, const uint8_t* data, uint32_t count) {
  if (!data) return count == 0;
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  for (uint32_t at = 0; at < count;) {
    const uint32_t piece = count - at < kHidBlockPiece ? count - at : kHidBlockPiece;
    report[0] = code;
    put_le24(report + kHidAddress, address);
    put_le16(report + kHidLength, piece);
    std::memcpy(report + kHidData, data + at, piece);
    if (!exchange(report, answer, false).sent) return false;
    address += piece;
    at += piece;
  }
  return true;
}

bool is_query(uint8_t code) {
  return code == kHidQueryKey || code == kHidQueryName || code == kHidQuery18 ||
         code == kHidQuery19 || code == kHidQuery21;
}

}  // namespace

uint32_t sys_request_boot(uint8_t flag) {
  if (g_link.hid_link) {
    uint8_t report[kHidReportSize] = {};
    report[0] = kHidBoot;
    if (flag != 0) std::memcpy(report + kHidBootWord, "TOOB", 4);
    // The device answers the boot request with nothing, so nothing is read. A report that did
    // not go out is not a request sent.
    if (hid_write_report(kHidDeviceIndex, report, kHidReportSize, kHidTimeoutMs) > 0) return 1;
    g_link.io_failed = true;
    return 0;
  }
  uint8_t packet[kPacketSize] = {};
  packet[1] = kFamilySystem;
  packet[2] = kSysBoot;
  packet[kSysFlag] = flag;
  packet[kSysFlag + 1] = flag;
  // Without its first packet the second would reach the device alone, and the request would
  // be reported as sent although the device never got it: stop here instead.
  if (send_command(packet, sizeof packet) == 0) return 0;
  packet[2] = kSysBootConfirm;
  return send_command(packet, sizeof packet);
}

uint32_t sys_put_parameter(uint32_t value) {
  if (!g_link.hid_link) return send_system(kSysPutParameter, value);
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  report[0] = kHidPutParameter;
  put_le32(report + kHidValue, value);
  return exchange(report, answer, false).sent ? 1 : 0;
}

uint32_t sys_get_word(uint32_t address) {
  if (!g_link.hid_link) {
    send_system(kSysGetWord, address);
    uint8_t reply[2] = {};
    if (read_reply(0, reply, sizeof reply) == 0) return 0;
    return static_cast<uint32_t>(reply[0] | reply[1] << 8);
  }
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  report[0] = kHidGetWord;
  put_le24(report + kHidAddress, address);
  // The word is 0 when no answer came, as the protocol gives it; the failure flag tells a 0
  // the device said from one it never said.
  if (exchange(report, answer, true).answered < 4) g_link.io_failed = true;
  return le32(answer);
}

uint32_t sys_write_block(uint32_t address, const uint8_t* data, uint32_t count) {
  if ((!data && count > 0) || count > kSysBlockMax) return 0;
  if (g_link.hid_link) {
    return write_block_reports(kHidWriteBlock2, address, data, count) ? 1 : 0;
  }
  const uint32_t packets = (count + kSysBlockPiece - 1) / kSysBlockPiece;
  // Up to 4 GiB for a count near its bound: memory that is not there refuses the write rather
  // than end the program. At least one packet's room, so an empty command has a real buffer.
  const size_t bytes = size_t{packets} * kPacketSize;
  const std::unique_ptr<uint8_t[]> buffer(
      new (std::nothrow) uint8_t[bytes == 0 ? kPacketSize : bytes]());
  if (!buffer) return 0;
  for (uint32_t i = 0; i < packets; ++i) {
    uint8_t* packet = buffer.get() + size_t{i} * kPacketSize;
    const uint32_t at = i * kSysBlockPiece;
    const uint32_t piece = count - at < kSysBlockPiece ? count - at : kSysBlockPiece;
    packet[1] = kFamilySystem;
    packet[2] = kSysWriteBlock;
    put_le32(packet + kSysValue, address);
    put_le16(packet + kSysLength, piece);
    std::memcpy(packet + kSysData, data + at, piece);
    address += piece;
  }
  // All pieces in one command file; a count of 0 sends an empty one.
  return send_command(buffer.get(), static_cast<uint32_t>(bytes));
}

uint32_t sys_command_10() { return send_system(kSysCommand10, 0); }

int32_t hid_query(uint8_t code, uint8_t* buffer) {
  if (!buffer) return 0;
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  int32_t answered = 0;
  if (is_query(code)) {
    report[0] = code;
    answered = exchange(report, answer, true).answered;
  }
  std::memcpy(buffer, answer, sizeof answer);
  return answered > 0 ? answered : 0;
}

uint32_t hid_write_block(uint32_t address, const uint8_t* data, uint32_t count) {
  return write_block_reports(kHidWriteBlock, address, data, count) ? 1 : 0;
}

void hid_read_32(uint8_t* buffer) {
  if (!buffer) return;
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  report[0] = kHidRead32;
  exchange(report, answer, true);
  std::memcpy(buffer, answer, kHidPiece32);
}

uint32_t hid_write_32(uint8_t code, uint32_t address, const uint8_t* data) {
  if (!data || (code != kHidWrite32 && code != kHidWrite32b)) return 0;
  uint8_t report[kHidReportSize] = {};
  uint8_t answer[kHidReportSize] = {};
  report[0] = code;
  put_le24(report + kHidAddress, address);
  report[kHid32Length] = kHidPiece32;
  std::memcpy(report + kHid32Data, data, kHidPiece32);
  return exchange(report, answer, false).sent ? 1 : 0;
}

uint32_t hid_write_block_32(uint32_t address, const uint8_t* data, uint32_t count) {
  if (count % kHidPiece32 != 0 || (!data && count > 0)) return 0;
  for (uint32_t at = 0; at < count; at += kHidPiece32) {
    // A later piece behind a lost one would leave a hole in the device's memory: stop here.
    if (hid_write_32(kHidWrite32b, address, data + at) == 0) return 0;
    address += kHidPiece32;
  }
  return 1;
}
