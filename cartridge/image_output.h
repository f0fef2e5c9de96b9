// A user's output file written as the image streams in: under "<name>.tmp" in the same folder,
// piece by piece from the caller's bounded buffers, synced and renamed over <name> only when
// complete. Until then Ctrl-C removes the temporary file, and so does giving the output up.
#pragma once
#include <cstdint>
#include <string>

class ImageOutput {
 public:
  ImageOutput() = default;
  ~ImageOutput();  // gives up an output that was not committed
  ImageOutput(const ImageOutput&) = delete;
  ImageOutput& operator=(const ImageOutput&) = delete;

  // Makes the temporary file, empty. False when it cannot be made.
  bool open(const std::string& name);
  // Writes `count` bytes at `offset` (the image's bytes as they come, and later corrections).
  bool write(uint64_t offset, const uint8_t* data, uint32_t count);
  // Reads back what was written, for a comparison or a second look at the whole image.
  bool read(uint64_t offset, uint8_t* data, uint32_t count) const;
  // Cuts or extends the file to `size` bytes.
  bool resize(uint64_t size);
  // Syncs the file and renames it over `name` (a new name: the caller chose it late); false,
  // with the temporary file removed, when either fails. Nothing is left to give up after it.
  bool commit(const std::string& name);
  // Removes the temporary file (when there is one).
  void discard();

  bool is_open() const { return open_; }
  const std::string& temporary() const { return temporary_; }

 private:
  std::string temporary_;
  bool open_ = false;
};

// The temporary name an output `name` is written under first.
std::string image_output_temporary(const std::string& name);
