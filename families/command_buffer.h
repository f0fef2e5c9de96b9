// Room for a command of several packets, all going out as one command file.
#pragma once
#include <cstdint>
#include <memory>
#include <new>

#include "link/transport.h"

// The most packets one command file can carry: its length is a 32-bit count.
inline constexpr uint64_t kCommandPacketsMax = UINT32_MAX / kPacketSize;

// Zeroed room for `packets` packets, at least one so that an empty command still hands the
// transport a real buffer. Null when the packets would not fit one command file or the memory
// is not there: the caller then sends nothing.
inline std::unique_ptr<uint8_t[]> command_buffer(uint64_t packets) {
  if (packets > kCommandPacketsMax) return nullptr;
  const uint64_t room = (packets == 0 ? 1 : packets) * kPacketSize;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[room]());
}

// Packets for `length` bytes in runs of `chunk`, counted without 32-bit wrap-around.
inline uint64_t runs_of(uint64_t length, uint32_t chunk) { return (length + chunk - 1) / chunk; }
