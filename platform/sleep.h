#pragma once
#include <cstdint>

void plat_sleep_ms(uint32_t milliseconds);

// Tests stand in for the pause so that polling never waits for real; nullptr restores the
// operating system's sleep.
void plat_install_sleep(void (*sleep)(uint32_t milliseconds));
