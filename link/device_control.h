// The device's own system commands: identity queries, boot request, parameter write, word read
// and block writes. Over the drive they are family 240 packets, over HID 64-byte reports whose
// byte 0 is the command code; the operations that have both forms choose by g_link.hid_link.
#pragma once
#include <cstdint>

inline constexpr uint32_t kHidReportSize = 64;
// Every exchange talks to the first listed HID device and waits this long each way.
inline constexpr int32_t kHidDeviceIndex = 0;
inline constexpr uint32_t kHidTimeoutMs = 100;

// HID command codes (report byte 0).
inline constexpr uint8_t kHidQueryKey = 16;   // answer bytes 0-7: the key data
inline constexpr uint8_t kHidQueryName = 17;  // answer: the device name text
inline constexpr uint8_t kHidQuery18 = 18;
inline constexpr uint8_t kHidQuery19 = 19;
inline constexpr uint8_t kHidBoot = 20;
inline constexpr uint8_t kHidQuery21 = 21;
inline constexpr uint8_t kHidGetWord = 22;
inline constexpr uint8_t kHidPutParameter = 23;
inline constexpr uint8_t kHidWriteBlock = 24;
inline constexpr uint8_t kHidWriteBlock2 = 25;
inline constexpr uint8_t kHidRead32 = 26;
inline constexpr uint8_t kHidWrite32 = 128;
inline constexpr uint8_t kHidWrite32b = 129;

// Family 240 sub-commands (packet byte 2).
inline constexpr uint8_t kSysKeyRequest = 4;
inline constexpr uint8_t kSysBoot = 7;
inline constexpr uint8_t kSysCommand10 = 10;
inline constexpr uint8_t kSysPutParameter = 224;
inline constexpr uint8_t kSysGetWord = 226;
inline constexpr uint8_t kSysWriteBlock = 228;
inline constexpr uint8_t kSysBootConfirm = 255;

// Largest data piece of one block-write packet (drive) and of one block-write report (HID).
inline constexpr uint32_t kSysBlockPiece = 256;
inline constexpr uint32_t kHidBlockPiece = 56;
inline constexpr uint32_t kHidPiece32 = 32;

// Both forms. Drive results are what send_command returned (0: not written); HID results are 1,
// or 0 when a report did not go out (time-out or error; a block write stops at that report).
// Over HID a report that did not go out, or a missing answer that carries what was asked for
// (queries, word read, 32-byte read), also sets g_link.io_failed.
// Drive: 0 without the second packet when the first could not be written.
uint32_t sys_request_boot(uint8_t flag);
uint32_t sys_put_parameter(uint32_t value);
// Drive: the 2-byte answer as a little-endian value, 0 when nothing could be read. HID: the
// 32-bit answer (only the low 24 address bits travel), 0 when the device did not answer.
// Either way a word that never came sets g_link.io_failed, which tells it from a word of 0.
uint32_t sys_get_word(uint32_t address);
// 0 without sending when `data` is null with a nonzero count, the count needs more packets
// than one command file can hold, or the memory for the command is not there.
uint32_t sys_write_block(uint32_t address, const uint8_t* data, uint32_t count);

// Drive form only.
uint32_t sys_command_10();

// HID form only. `buffer` receives the 64-byte answer, zeros where none came. Codes other than
// 16, 17, 18, 19 and 21 are not sent; the buffer is then zeroed. Returns the answer's data
// bytes, 0 when none came (or the query was not sent).
int32_t hid_query(uint8_t code, uint8_t* buffer);
// Code 24 reports, 56 bytes each. Returns 1, or 0 at the first report that did not go out:
// nothing after it is sent, so no later piece lands behind a hole.
uint32_t hid_write_block(uint32_t address, const uint8_t* data, uint32_t count);
// The first 32 bytes of the answer to code 26.
void hid_read_32(uint8_t* buffer);
// One 32-byte write report, code 128 or 129 (any other code is not sent). Returns 1, or 0 when
// the report did not go out.
uint32_t hid_write_32(uint8_t code, uint32_t address, const uint8_t* data);
// Code 129 reports, 32 bytes each. Returns 1; 0 without sending when `count` is not a whole
// number of 32-byte pieces (the last piece would be read past the data), and 0 at the first
// report that did not go out, after which nothing more is sent.
uint32_t hid_write_block_32(uint32_t address, const uint8_t* data, uint32_t count);
