// A game's save on a cartridge, moved to and from a file without loss: the slot-independent
// rules of backup-save and restore-save. A slot finds its save (save_n64.h, ...) and hands it
// over as a SaveArea; everything here works on that alone.
//
// - A backup reads the whole save twice and writes the file only when the two reads agree (a
//   byte that differs is read again until it settles, or nothing is written), through a
//   temporary name that is renamed only when complete.
// - A restore takes only a file of the save's size, or of a known padded size whose padding is
//   exactly what that padding is; before writing anything it backs the cartridge's save up
//   next to the file under a name never used before; after writing it reads the whole save
//   back and compares.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file size a save is also found in, as some emulator or tool stores it: the save, then
// padding up to `file_size` bytes that is either every byte `fill` or the save repeated.
struct SavePadding {
  enum class Kind : uint8_t { fill, mirror };
  uint32_t file_size = 0;
  Kind kind = Kind::fill;
  uint8_t fill = 0;
  const char* who = "";  // who stores it so, for the message ("as mupen64plus stores ...")
};

// One kind of save a slot's cartridges carry: its size and the padded sizes it is accepted in.
struct SaveShape {
  const char* name;  // "eeprom4k": as --save-type names it
  const char* text;  // "4 Kbit EEPROM"
  uint32_t size;
  std::vector<SavePadding> paddings;
};

// The save of the cartridge in the slot, as the slot found it.
struct SaveArea {
  SaveShape shape;
  std::string place;  // where it sits, for messages: "at 0x08000000", "behind the probe"
  // Reads `length` bytes at save offset `offset`; false when a command or answer was lost.
  std::function<bool(uint32_t offset, uint8_t* out, uint32_t length)> read;
  // Writes the whole save: `data` the new contents, `old` what the save holds now (as the
  // backup read it), `progress` called with the bytes written so far. False, with `error`
  // saying why, when a write could not be carried out.
  std::function<bool(const uint8_t* data, const uint8_t* old, std::string& error,
                     const std::function<void(uint64_t done)>& progress)>
      write;
  // The cartridge address of a save offset, for messages ("0x08000010").
  std::function<std::string(uint32_t offset)> address;
  // Runs after the job, whatever its outcome (a board's RAM enable switched off again).
  std::function<void()> finish;
  // Why a backup may read every byte alike besides a blank save ("the wrong --mapper"); "" when
  // the slot knows no likelier cause than a RAM that did not answer.
  std::string blank_cause;
};

// How a restore's file matches a save.
struct SaveFileMatch {
  bool accepted = false;
  std::vector<uint8_t> data;  // the save's bytes, padding dropped
  std::string note;           // which padding was accepted, or why the file was refused
};
SaveFileMatch save_match_file(const SaveShape& shape, const std::vector<uint8_t>& file);

// Whether a file of `size` bytes can be the save, or a padded save, of any of `shapes`; when
// not, `why` lists the sizes that can.
bool save_size_possible(const std::vector<SaveShape>& shapes, uint64_t size, std::string& why);

// Where a restore of `infile` backs the cartridge's save up: NAME.before-restore-STAMP.sav
// beside it (NAME: the file name less its last extension), with "-2", "-3", ... added before
// ".sav" when that name is taken. Empty when every such name is taken. `taken` tells whether a
// name exists.
std::string save_backup_name(const std::string& infile, const std::string& stamp,
                             const std::function<bool(const std::string&)>& taken);

enum class SaveStatus : uint8_t {
  done,     // backed up, or restored and read back equal
  failed,   // the cartridge could not be read or written, or read back wrong
  refused,  // nothing written to the cartridge: the file does not fit the save
};

struct SaveResult {
  SaveStatus status = SaveStatus::failed;
  std::string message;  // why, for standard error
  std::string note;     // the padding a restore's file was accepted with ("" when none)
  std::string backup;   // the file the save was backed up to ("" when none was written)
  // A backup that read every byte alike: saved all the same, with this warning (else "").
  std::string warning;
};

// Progress of a long read or write: bytes done of the total.
using SaveProgress = std::function<void(uint64_t done, uint64_t total)>;

// Reads the whole save twice and settles what differs; false with `error` when the reads never
// agree or a read failed.
bool save_read_twice(const SaveArea& area, std::vector<uint8_t>& out, std::string& error,
                     const SaveProgress& progress = {});

// backup-save: the save into `outfile` (written whole or not at all).
SaveResult save_backup(const SaveArea& area, const std::string& outfile,
                       const SaveProgress& progress = {});

// restore-save: `file` (INFILE's bytes, read by the caller) onto the cartridge; the previous
// save backed up under save_backup_name(infile, stamp, taken) first.
SaveResult save_restore(const SaveArea& area, const std::vector<uint8_t>& file,
                        const std::string& infile, const std::string& stamp,
                        const std::function<bool(const std::string&)>& taken,
                        const SaveProgress& progress = {});

// Writes a user's file whole under a temporary name and renames it (Ctrl-C meanwhile removes
// the temporary file); false when it could not be written.
bool save_write_file(const std::string& path, const std::vector<uint8_t>& data);

// "512 bytes", "32 KiB", "96 KiB".
std::string save_size_text(uint64_t size);
