// Reads and writes of the N64 save code that tell a lost command or answer (not part of the
// N64 save's interface).
#pragma once
#include <cstdint>
#include <functional>

// Runs `body` and returns true when it returned true and nothing it sent or read was lost.
bool n64_bus_lossless(const std::function<bool()>& body);
// A bus read through the operation table (packets outside the ROM window).
bool n64_bus_read(uint32_t address, uint8_t* out, uint32_t length);
// A small bus read that decides something (a save type): read twice, and settled as a dump
// settles bytes when the two differ.
bool n64_bus_read_settled(uint32_t address, uint8_t* out, uint32_t length);
