// The slot-independent rules of backup-save and restore-save (save.h).
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "cartridge/read_vote.h"
#include "cartridge/save.h"
#include "link/transport.h"
#include "platform/console.h"

namespace {

// Reads go in pieces of this size, so that progress can be shown between them.
constexpr uint32_t kPiece = 0x8000;
// Names tried for a pre-restore backup when the plain one is taken ("-2" to "-99").
constexpr int kBackupNameTries = 99;

std::string hex_byte(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

bool read_whole(const SaveArea& area, uint8_t* out, const SaveProgress& progress, uint64_t base,
                uint64_t total) {
  const uint32_t size = area.shape.size;
  for (uint32_t done = 0; done < size;) {
    const uint32_t piece = std::min(kPiece, size - done);
    if (!area.read(done, out + done, piece)) return false;
    done += piece;
    if (progress) progress(base + done, total);
  }
  return true;
}

// Whether the padding of `file` past `size` bytes is what `padding` says it is.
bool padding_holds(const SavePadding& padding, const std::vector<uint8_t>& file, uint32_t size) {
  for (size_t i = size; i < file.size(); ++i) {
    const uint8_t expected = padding.kind == SavePadding::Kind::fill ? padding.fill : file[i % size];
    if (file[i] != expected) return false;
  }
  return true;
}

std::string padding_text(const SavePadding& padding) {
  return padding.kind == SavePadding::Kind::fill ? "padded with " + hex_byte(padding.fill)
                                                 : "repeated";
}

std::string sizes_of(const SaveShape& shape) {
  std::string text = std::to_string(shape.size) + " bytes";
  for (const auto& p : shape.paddings) {
    text += ", or " + std::to_string(p.file_size) + " bytes " + padding_text(p);
  }
  return text;
}

}  // namespace

std::string save_size_text(uint64_t size) {
  if (size >= 1024 && size % 1024 == 0) return std::to_string(size / 1024) + " KiB";
  return std::to_string(size) + " bytes";
}

SaveFileMatch save_match_file(const SaveShape& shape, const std::vector<uint8_t>& file) {
  SaveFileMatch m;
  if (file.size() == shape.size) {
    m.accepted = true;
    m.data = file;
    return m;
  }
  bool size_known = false;
  for (const auto& p : shape.paddings) {
    if (file.size() != p.file_size || file.size() < shape.size) continue;
    size_known = true;
    if (!padding_holds(p, file, shape.size)) continue;
    m.accepted = true;
    m.data.assign(file.begin(), file.begin() + shape.size);
    m.note = "a " + std::string(shape.text) + " save " + padding_text(p) + " to " +
             save_size_text(p.file_size) + " (" + p.who + "); its first " +
             std::to_string(shape.size) + " bytes are the save";
    return m;
  }
  m.note = "the file is " + std::to_string(file.size()) + " bytes, the cartridge's " +
           shape.text + " save " + std::to_string(shape.size) + " bytes";
  if (size_known) {
    m.note += "; a file of this size is taken only when its bytes past the save are the "
              "padding (" + sizes_of(shape) + "), and these are not";
  } else {
    m.note += " (a file of " + sizes_of(shape) + " is taken)";
  }
  return m;
}

bool save_size_possible(const std::vector<SaveShape>& shapes, uint64_t size, std::string& why) {
  std::vector<uint64_t> sizes;
  for (const auto& s : shapes) {
    sizes.push_back(s.size);
    for (const auto& p : s.paddings) sizes.push_back(p.file_size);
  }
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  if (std::find(sizes.begin(), sizes.end(), size) != sizes.end()) return true;
  why = "no save of this slot is " + std::to_string(size) + " bytes long (sizes taken:";
  for (size_t i = 0; i < sizes.size(); ++i) {
    why += (i ? ", " : " ") + std::to_string(sizes[i]);
  }
  why += ")";
  return false;
}

std::string save_backup_name(const std::string& infile, const std::string& stamp,
                             const std::function<bool(const std::string&)>& taken) {
  const size_t slash = infile.find_last_of("/\\");
  const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = infile.find_last_of('.');
  // A dot that starts the name (".sav") or sits in a folder's name is no extension.
  if (dot == std::string::npos || dot <= name_at) dot = infile.size();
  const std::string stem = infile.substr(0, dot) + ".before-restore-" + stamp;
  for (int n = 1; n <= kBackupNameTries; ++n) {
    std::string name = stem;
    if (n > 1) name.append("-").append(std::to_string(n));
    name.append(".sav");
    if (!taken(name)) return name;
  }
  return {};
}

bool save_write_file(const std::string& path, const std::vector<uint8_t>& data) {
  const std::string temporary = path + ".tmp";
  plat_on_interrupt_remove(temporary.c_str());
  const bool saved = data.size() <= UINT32_MAX &&
                     save_file(path.c_str(), data.data(), static_cast<uint32_t>(data.size())) ==
                         data.size();
  plat_on_interrupt_remove(nullptr);
  return saved;
}

bool save_read_twice(const SaveArea& area, std::vector<uint8_t>& out, std::string& error,
                     const SaveProgress& progress) {
  const uint32_t size = area.shape.size;
  std::vector<uint8_t> second(size);
  out.assign(size, 0);
  if (!read_whole(area, out.data(), progress, 0, 2ull * size) ||
      !read_whole(area, second.data(), progress, size, 2ull * size)) {
    error = "the save could not be read (a command or an answer was lost)";
    return false;
  }
  const auto differ = std::mismatch(out.begin(), out.end(), second.begin());
  if (differ.first == out.end()) return true;
  // Where the reads differ, read again as a dump does until every byte has a clear lead.
  const auto first = static_cast<uint32_t>(differ.first - out.begin());
  uint32_t last = size - 1;
  while (out[last] == second[last]) --last;
  const uint32_t length = last - first + 1;
  const SpanReader reader = [&area](uint64_t offset, uint8_t* to, uint32_t n) {
    return area.read(static_cast<uint32_t>(offset), to, n);
  };
  const SettleResult settled = settle_span(reader, first, length, out.data() + first,
                                           second.data() + first, out.data() + first);
  if (settled.read_failed) {
    error = "the save could not be read again where two reads differed (a command or an "
            "answer was lost)";
    return false;
  }
  if (!settled.unsettled.empty()) {
    const uint32_t at = first + settled.unsettled.front();
    error = "the save reads differently each time at " + area.address(at) + " (" +
            std::to_string(settled.unsettled.size()) + " bytes never settled after " +
            std::to_string(2 + settled.rereads) +
            " reads); clean the cartridge's contacts and try again";
    return false;
  }
  return true;
}

SaveResult save_backup(const SaveArea& area, const std::string& outfile,
                       const SaveProgress& progress) {
  SaveResult r;
  std::vector<uint8_t> save;
  std::string error;
  if (!save_read_twice(area, save, error, progress)) {
    r.message = error + "; " + outfile + " was not written";
    return r;
  }
  if (!save_write_file(outfile, save)) {
    r.message = "could not write " + outfile + " (is the folder writable and not full?)";
    return r;
  }
  r.status = SaveStatus::done;
  r.backup = outfile;
  // A RAM that is not enabled or not there reads one value throughout, as a blank save does:
  // the file is kept, but the user is told before trusting it.
  if (!save.empty() && std::all_of(save.begin(), save.end(),
                                   [&](uint8_t b) { return b == save[0]; })) {
    char value[8];
    std::snprintf(value, sizeof value, "0x%02X", save[0]);
    r.warning = std::string("every byte of the save read ") + value +
                ": the save may be blank, or the RAM did not answer" +
                (area.blank_cause.empty() ? "" : " (" + area.blank_cause + ")");
  }
  return r;
}

SaveResult save_restore(const SaveArea& area, const std::vector<uint8_t>& file,
                        const std::string& infile, const std::string& stamp,
                        const std::function<bool(const std::string&)>& taken,
                        const SaveProgress& progress) {
  SaveResult r;
  const SaveFileMatch match = save_match_file(area.shape, file);
  if (!match.accepted) {
    r.status = SaveStatus::refused;
    r.message = infile + " does not fit this cartridge: " + match.note + "; nothing was written";
    return r;
  }
  if (!match.note.empty()) r.note = infile + " is " + match.note;

  const std::string name = save_backup_name(infile, stamp, taken);
  if (name.empty()) {
    r.message = "every name for the backup of the cartridge's save beside " + infile +
                " is taken; nothing was written";
    return r;
  }
  std::vector<uint8_t> old;
  std::string error;
  const uint64_t size = area.shape.size;
  const uint64_t total = 4 * size;  // two reads for the backup, the write, one to read back
  const SaveProgress backup_progress = [&](uint64_t done, uint64_t) {
    if (progress) progress(done, total);
  };
  if (!save_read_twice(area, old, error, backup_progress)) {
    r.message = "the cartridge's save could not be backed up: " + error +
                "; nothing was written";
    return r;
  }
  if (!save_write_file(name, old)) {
    r.message = "could not write the backup " + name + " of the cartridge's save; nothing "
                "was written to the cartridge";
    return r;
  }
  r.backup = name;
  const auto write_progress = [&](uint64_t done) {
    if (progress) progress(2 * size + done, total);
  };
  if (!area.write(match.data.data(), old.data(), error, write_progress)) {
    r.message = "writing the save failed: " + error + "; the previous save is in " + name;
    return r;
  }
  std::vector<uint8_t> back(size);
  if (!read_whole(area, back.data(), backup_progress, 3 * size, total)) {
    r.message = "the save could not be read back after writing (a command or an answer was "
                "lost); the previous save is in " + name;
    return r;
  }
  const auto differ = std::mismatch(back.begin(), back.end(), match.data.begin());
  if (differ.first != back.end()) {
    const auto at = static_cast<uint32_t>(differ.first - back.begin());
    r.message = "the save reads back " + hex_byte(*differ.first) + " at " + area.address(at) +
                " where " + infile + " has " + hex_byte(*differ.second) +
                " (first difference); the previous save is in " + name;
    return r;
  }
  r.status = SaveStatus::done;
  return r;
}
