#include <time.h>

#include <cerrno>

#include "platform/sleep.h"

void plat_sleep_ms(uint32_t milliseconds) {
  if (g_plat_sleep_hook) {
    g_plat_sleep_hook(milliseconds);
    return;
  }
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
