#include <windows.h>

#include "platform/sleep.h"

void plat_sleep_ms(uint32_t milliseconds) {
  if (g_plat_sleep_hook) {
    g_plat_sleep_hook(milliseconds);
    return;
  }
  Sleep(milliseconds);
}
