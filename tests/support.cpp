#include "tests/support.h"

#include <cstring>

#include "app/image_buffer.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "nes/nes_family.h"

void reset_program_state() {
  link_reset_state();
  cipher_reset_state();
  nes_reset_state();
  std::memset(g_image_buffer, 0, kImageBufferSize);
}
