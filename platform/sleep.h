#pragma once
#include <cstdint>

void plat_sleep_ms(uint32_t milliseconds);
