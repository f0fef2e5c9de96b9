#pragma once
#include <cstdint>

void plat_sleep_ms(uint32_t milliseconds);

// While set, poll pauses call this instead of sleeping (tests count them and let device time
// pass without waiting); nullptr: the operating system's sleep.
extern void (*g_plat_sleep_hook)(uint32_t milliseconds);
