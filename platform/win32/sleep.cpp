#include <windows.h>

#include "platform/sleep.h"

void os_sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }
