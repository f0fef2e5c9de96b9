#pragma once
#include <cstdint>

// Pauses the thread; through the installed hook when there is one.
void plat_sleep_ms(uint32_t milliseconds);

// The operating system's own pause.
void os_sleep_ms(uint32_t milliseconds);

// Tests install a hook here so that poll pauses never wait for real; nullptr restores the OS.
void plat_install_sleep(void (*sleep)(uint32_t milliseconds));
