#include <windows.h>

#include "platform/sleep.h"

void plat_sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }
