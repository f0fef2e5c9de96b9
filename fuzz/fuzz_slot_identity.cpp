// The SFC, WSC and N64 families: the identity text that sets each one's firmware number, cipher
// flag or operation table, and then the reads that interpret reply and window bytes with the
// rules just chosen (word reads, probe replies and memory status, chunked block reads, erase
// polling). The status sector switches to the fuzzed identity text once a family's identity
// command is written, as the device does. Each destination is exactly as long as the read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "families/n64.h"
#include "families/sfc.h"
#include "families/wsc.h"
#include "fuzz/fake_drive.h"
#include "link/cipher.h"
#include "link/link_state.h"
#include "link/transport.h"
#include "platform/sleep.h"

namespace {

constexpr int kOpsMax = 6;
constexpr uint32_t kLengthMax = 0x3000;
constexpr size_t kIdentityMax = 48;

std::unique_ptr<uint8_t[]> room(uint32_t length) {
  return std::unique_ptr<uint8_t[]>(new uint8_t[length ? length : 1]);
}

void sfc_op(uint8_t op, uint32_t address, uint32_t length, uint8_t* out) {
  switch (op % 5) {
    case 0: sfc_read_byte(address); break;
    case 1: sfc_read_status(address); break;
    case 2: sfc_read_block(address, out, length); break;
    case 3: sfc_long_read_byte(address); break;
    default: sfc_long_read_block(address, out, length); break;
  }
}

void wsc_op(uint8_t op, uint32_t address, uint32_t length, uint8_t* out) {
  switch (op % 5) {
    case 0: wsc_read_rom(address, out, length); break;
    case 1: wsc_read_byte(address); break;
    case 2: wsc_read_block(address, out, length); break;
    case 3: wsc_read_block_sub15(address, out, length); break;
    default: wsc_erase_sector(address); break;
  }
}

void n64_op(uint8_t op, uint32_t address, uint32_t length, uint8_t* out) {
  switch (op % 7) {
    case 0: n64_read_word(address); break;
    case 1:
      if (n64_read_block(address, out, length) > length) std::abort();
      break;
    case 2:
      if (n64_read_page(address, out, length) > length) std::abort();
      break;
    case 3: {
      uint8_t identification[kN64MemoryIdSize];
      n64_probe_memory((op & 0x80) ? identification : nullptr);
      break;
    }
    case 4: n64_memory_status(); break;
    case 5:
      if (n64_read_memory(address, out, length) > length) std::abort();
      break;
    default: n64_erase_sector(address); break;
  }
}

void no_sleep(uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.u8();
  const uint8_t family = static_cast<uint8_t>((flags & 3) % 3);
  const int ops = 1 + ((flags >> 2) & 7) % kOpsMax;
  const std::vector<uint8_t> identity = in.bytes(kIdentityMax);
  const std::vector<uint8_t> name = in.bytes(16);
  const std::vector<uint8_t> script = in.bytes(static_cast<size_t>(ops) * 8);
  // Mostly a whole reply file; sometimes one that ends inside the status sector or before it.
  const uint8_t size_choice = in.u8();
  const uint32_t reply_size = size_choice < 160
                                  ? kStatusSectorOffset + kStatusSectorSize
                                  : kStatusSectorOffset - 1024 + (size_choice - 160u) * 24u;
  const std::vector<uint8_t> bytes = in.rest();

  link_reset_state();
  cipher_reset_state();
  sfc_reset_state();
  wsc_reset_state();
  n64_reset_state();
  plat_install_sleep(no_sleep);
  std::strcpy(g_link.root_path, fuzz::kRoot);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), kDeviceNameMax), g_link.device_name);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), sizeof g_link.key_data),
              g_link.key_data);

  fuzz::FakeDrive drive;
  const std::string reply_name = std::string(fuzz::kRoot) + "T-DRIVER.DMP";
  auto& reply = drive.files[reply_name];
  reply.assign(reply_size, 0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), reply.size()), reply.begin());
  drive.files[std::string(fuzz::kRoot) + "DUMP.ROM"] = bytes;
  const uint8_t family_codes[3] = {kFamilySfc, kFamilyWsc, kFamilyN64};
  drive.on_write = [&](const std::string& path, const uint8_t* packet, uint32_t count) {
    if (path == reply_name || count < 3 || packet[1] != family_codes[family] || packet[2] != 1) {
      return;
    }
    auto& file = drive.files[reply_name];
    for (size_t i = 0; i < identity.size() && kStatusSectorOffset + i < file.size(); ++i) {
      file[kStatusSectorOffset + i] = identity[i];
    }
  };
  fuzz::install(&drive);

  if (family == 0) sfc_identify();
  if (family == 1) wsc_identify();
  if (family == 2) n64_identify();

  fuzz::Input steps(script.data(), script.size());
  for (int i = 0; i < ops; ++i) {
    const uint8_t op = steps.u8();
    const uint32_t address = steps.u32();
    const uint32_t length = steps.u16() % (kLengthMax + 1);
    steps.u8();
    auto out = room(length);
    if (family == 0) sfc_op(op, address, length, out.get());
    if (family == 1) wsc_op(op, address, length, out.get());
    if (family == 2) n64_op(op, address, length, out.get());
  }
  fuzz::install(nullptr);
  plat_install_sleep(nullptr);
  return 0;
}
