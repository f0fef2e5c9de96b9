// Dumping a whole cartridge into the file emulators and preservation sets use, in the user's
// terms: the size and layout from the cartridge's own header, footer or mapper, the image read
// and verified (verify.h), CRC-32 and SHA-1 printed, a known-good list consulted, and the file
// written whole or not at all. One entry per slot; the runner checks the request's words.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "cartridge/verify.h"
#include "formats/dat.h"
#include "formats/ines.h"
#include "formats/sfc_header.h"

enum class DumpStatus : uint8_t {
  verified,    // written, and a check covering the whole image or a second read confirms it
  unverified,  // written, but nothing confirmed it (a single pass was asked for)
  failed,      // nothing written: the cartridge could not be read, or not the same twice
  refused,     // nothing read: the request cannot be carried out as given
};

struct DumpRequest {
  std::string outfile;         // empty: named from the DAT (name_from_dat) or the header
  const Dat* dat = nullptr;    // a known-good list to look the image up in
  bool name_from_dat = false;  // name the file after the DAT's game (no outfile)
  bool force = false;          // replace an existing file
  uint32_t passes = 0;         // 0: a second read when nothing covering the whole image
                               // confirms the first; 1: never; 2: always
  // SFC, N64, WSC: the ROM size when the cartridge's own is damaged (0: the cartridge's).
  uint64_t size = 0;
  // SFC: the map when the header is damaged.
  bool map_given = false;
  SfcMap map = SfcMap::lorom;
  // NES: the board (iNES mapper number), PRG and CHR sizes (found by repetition when not
  // given), and the mirroring for the iNES header.
  uint32_t mapper = 0;
  bool prg_given = false;
  bool chr_given = false;
  uint64_t prg = 0;
  uint64_t chr = 0;
  NesMirroring mirroring = NesMirroring::horizontal;
  DumpProgress progress;
};

struct DumpResult {
  DumpStatus status = DumpStatus::failed;
  std::string message;  // why it was not verified, for standard error
  std::string saved;    // the file written (verified or unverified)
};

DumpResult dump_sfc(const DumpRequest& request);
DumpResult dump_n64(const DumpRequest& request);
DumpResult dump_wsc(const DumpRequest& request);
DumpResult dump_nes(const DumpRequest& request);

// What a slot's dump hands to the common steps.
struct CheckVerdict {
  bool confirms = false;  // a check covering the whole image agrees with it
  bool nonsense = false;  // what the cartridge said about itself cannot be right: no dump
  std::string line;       // the line printed for it, or why it makes no sense ("" for none)
};

struct DumpPlan {
  std::string extension;   // ".sfc"
  std::string title;       // from the header, for the file name ("" when none)
  uint64_t size = 0;
  SpanReader read;         // the image at image offsets
  std::vector<uint8_t> prefix;  // a file header before the image
  ImageChecker checker;
  std::function<CheckVerdict()> verdict;
  // Names where an image offset sits on the cartridge, for messages.
  std::function<std::string(uint64_t offset)> describe;
  // After the first read: a shorter size the image may really have (0: none).
  std::function<uint64_t(ImageVerifier&)> shorter;
  std::string shorter_note;  // printed when the shorter size is taken
};

// The common steps: output name, reads, verification, report, commit.
DumpResult run_dump(const DumpRequest& request, DumpPlan& plan);

// "4 MiB", "512 KiB", "24 KiB", "100 bytes".
std::string dump_size_text(uint64_t size);
// A refusal or failure before anything was read.
DumpResult dump_stop(DumpStatus status, std::string message);
