#include <windows.h>

#include "platform/os.h"

void os_sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }
