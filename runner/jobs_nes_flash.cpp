// cartlink-run's NES flash jobs: flash identification, the work-RAM test and the PRG and CHR
// flash jobs, each taking a raw image file.
#include <string>
#include <vector>

#include "nes/chr_flash.h"
#include "nes/flash_id.h"
#include "nes/image_buffer.h"
#include "nes/prg_flash.h"
#include "runner/runner.h"

namespace runner_nes_flash {

namespace {

using ImageJob = bool (*)(const uint8_t* data, uint32_t length);

struct ImageRule {
  uint32_t min_size;   // smaller images are refused before anything is erased
  uint32_t bank_size;  // bytes past the last whole bank are not programmed
  bool prg;            // identify the chip first: it chooses the PRG program command
};

// The image file, loaded whole and long enough for the job; a message and false otherwise.
bool load_image(const std::vector<std::string>& args, const ImageRule& rule,
                std::vector<uint8_t>& image) {
  if (!runner_load_file(args[0], image, kImageBufferSize)) return false;
  if (image.size() >= rule.min_size) return true;
  runner_error("%s is %u bytes long; this job needs at least %u; nothing was erased",
               args[0].c_str(), static_cast<uint32_t>(image.size()), rule.min_size);
  return false;
}

int run_image_job(const std::vector<std::string>& args, const ImageRule& rule, ImageJob job) {
  std::vector<uint8_t> image;
  if (!load_image(args, rule, image)) return kExitUsage;
  const auto length = static_cast<uint32_t>(image.size());
  if (length % rule.bank_size != 0) {
    runner_error(
        "warning: the last %u bytes of %s are not a whole bank of %u and are not "
        "programmed",
        length % rule.bank_size, args[0].c_str(), rule.bank_size);
  }
  if (rule.prg) identify_flash();
  return job(image.data(), length) ? kExitDone : kExitFailed;
}

constexpr uint32_t k4K = 0x1000;
constexpr uint32_t k8K = 0x2000;
constexpr ImageRule kPrgBanks{k8K, k8K, true};
constexpr ImageRule kChrBanks{k8K, k8K, false};
constexpr ImageRule kChr4kBanks{k4K, k4K, false};
constexpr ImageRule kPrgPair{kPrgPairImageSize, kPrgPairImageSize, true};
constexpr ImageRule kPrgWindow{kPrgLastBlockSize, k8K, true};
constexpr ImageRule kChrBoot{kChrBootImageSize, kChrBootImageSize, false};

}  // namespace

// The image is checked before the device is opened: a file that is unusable on its face is
// refused before identification or anything else is sent.
bool check_prg_pair(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kPrgPair, image);
}
bool check_prg_window(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kPrgWindow, image);
}
bool check_prg_banks(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kPrgBanks, image);
}
bool check_chr_boot(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kChrBoot, image);
}
bool check_chr_banks(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kChrBanks, image);
}
bool check_chr_4k_banks(const std::vector<std::string>& args) {
  std::vector<uint8_t> image;
  return load_image(args, kChr4kBanks, image);
}

int identify_flash(const std::vector<std::string>&) {
  ::identify_flash();
  return kExitDone;
}

int work_ram_test(const std::vector<std::string>&) {
  return ::work_ram_test(nullptr, 0) ? kExitDone : kExitFailed;
}

int prg_flash_7000_pair(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgPair,
                       [](const uint8_t* d, uint32_t) { return ::prg_flash_7000_pair(d); });
}
int prg_flash_5116_window(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgWindow, ::prg_flash_5116_window);
}
int prg_flash_8000_bank(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgBanks, ::prg_flash_8000_bank);
}
int prg_flash_8001_one_sector(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgBanks, ::prg_flash_8001_one_sector);
}
int prg_flash_8001_two_sectors(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgBanks, ::prg_flash_8001_two_sectors);
}
int prg_flash_8001_two_sectors_5000(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgBanks, ::prg_flash_8001_two_sectors_5000);
}
int prg_flash_8001_chip_5000(const std::vector<std::string>& args) {
  return run_image_job(args, kPrgBanks, ::prg_flash_8001_chip_5000);
}
int chr_flash_8001_boot_sectors(const std::vector<std::string>& args) {
  return run_image_job(args, kChrBoot,
                       [](const uint8_t* d, uint32_t) { return ::chr_flash_8001_boot_sectors(d); });
}
int chr_flash_9000_1k(const std::vector<std::string>& args) {
  return run_image_job(args, kChrBanks, ::chr_flash_9000_1k);
}
int chr_flash_4100_2k1k(const std::vector<std::string>& args) {
  return run_image_job(args, kChrBanks, ::chr_flash_4100_2k1k);
}
int chr_flash_4k_upper(const std::vector<std::string>& args) {
  return run_image_job(args, kChr4kBanks, ::chr_flash_4k_upper);
}
int chr_flash_4k_inverted(const std::vector<std::string>& args) {
  return run_image_job(args, kChr4kBanks, ::chr_flash_4k_inverted);
}
int chr_flash_5120_1k(const std::vector<std::string>& args) {
  return run_image_job(args, kChrBanks, ::chr_flash_5120_1k);
}

}  // namespace runner_nes_flash
