// Whether a piece of work lost a command or an answer on the way to the device: the families
// do not look at what the transport reports, the link's failure flag does.
#pragma once
#include "link/link_state.h"

// Runs `body` and returns true when nothing it sent or read was lost. The link's flag keeps an
// earlier loss as well as this one, for whoever looks at it later.
template <class Body>
bool cart_without_loss(Body&& body) {
  const bool before = g_link.io_failed;
  g_link.io_failed = false;
  body();
  const bool lost = g_link.io_failed;
  g_link.io_failed = before || lost;
  return !lost;
}
