#pragma once

// Asks the device for its identity text and sets the NES protocol level; keys the payload
// cipher for old NES firmware.
void identify_device();
