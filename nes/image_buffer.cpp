#include "nes/image_buffer.h"

uint8_t g_image_buffer[kImageBufferSize];
