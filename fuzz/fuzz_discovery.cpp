// Discovery and identity: the status sector (name, "BOOT", key, date digits) as the drive
// presents it before the identity command, the identity text after it, and the protocol level
// and cipher key chosen from them. The input is: one byte choosing the file's size, then the
// status sector before identity, then the one after (each up to 1024 bytes).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fake_drive.h"
#include "link/cipher.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link_state.h"
#include "link/transport.h"

namespace {

constexpr uint32_t kFileSize = kStatusSectorOffset + kStatusSectorSize;

std::vector<uint8_t> reply_file(uint32_t size, const std::vector<uint8_t>& sector) {
  std::vector<uint8_t> file(size, 0);
  for (size_t i = 0; i < sector.size() && kStatusSectorOffset + i < size; ++i) {
    file[kStatusSectorOffset + i] = sector[i];
  }
  // The answer to a key request is the start of the file: give it the sector's bytes too.
  std::copy_n(sector.begin(), std::min<size_t>(sector.size(), kStatusSectorOffset), file.begin());
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t size_choice = in.u8();
  // Mostly the real size; sometimes a file that ends inside the status sector or before it.
  const uint32_t file_size =
      size_choice < 192 ? kFileSize : kStatusSectorOffset - 512 + (size_choice - 192u) * 24u;
  const std::vector<uint8_t> before = in.bytes(kStatusSectorSize);
  const std::vector<uint8_t> after = in.rest();

  link_reset_state();
  cipher_reset_state();
  fuzz::FakeDrive drive;
  const std::string reply_name = std::string(fuzz::kRoot) + "T-DRIVER.DMP";
  drive.files[reply_name] = reply_file(file_size, before);
  drive.on_write = [&](const std::string& path, const uint8_t* packet, uint32_t count) {
    // The identity command switches the status sector to the identity text.
    if (path != reply_name && count >= 3 && packet[1] == kFamilyNes && packet[2] == 1) {
      drive.files[reply_name] = reply_file(file_size, after);
    }
  };
  fuzz::install(&drive);

  if (open_device()) {
    if (std::strlen(g_link.device_name) > kDeviceNameMax) std::abort();
    identify_device();
    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    encrypt_payload(block, sizeof block);
  }
  fuzz::install(nullptr);
  return 0;
}
