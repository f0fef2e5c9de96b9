#include "link/link_state.h"

LinkState g_link{};

void link_reset_state() { g_link = LinkState{}; }
