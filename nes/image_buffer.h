#pragma once
#include <cstdint>

// The jobs' process-wide image buffer: cartridge contents read or files loaded, from offset 0.
inline constexpr uint32_t kImageBufferSize = 0x1000000;
extern uint8_t g_image_buffer[kImageBufferSize];
