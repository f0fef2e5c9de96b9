// The command port of a family-20 cartridge: a command and status register at bank 0x00
// offset 0x2400 and a data register at offset 0x2401, reached with family 20's byte reads and
// writes, one send per register access.
#pragma once
#include <cstdint>

inline constexpr uint32_t kPortStatus = 0x002400;
inline constexpr uint32_t kPortData = 0x002401;
// Status the port answers once it is awake.
inline constexpr uint8_t kPortAwake = 0x2A;
// Exchanges port_wake tries after its first look before it gives up.
inline constexpr uint32_t kPortWakeTries = 30;

// Gives the port one command byte and returns the status it shows afterwards.
uint8_t port_exchange(uint8_t command);
// True once the port reports itself awake, at once or within kPortWakeTries exchanges.
bool port_wake();
// True when the port is awake and answers command 1 with 0x04 after command 2.
bool port_check();
