// Each slot's save found and handed over as a SaveArea.
#include "cartridge/save_slots.h"

#include <utility>

#include "cartridge/save_n64.h"
#include "cartridge/save_retail.h"
#include "families/n64.h"
#include "formats/file_name.h"

namespace {

SaveFound refuse(std::string message) {
  SaveFound f;
  f.message = std::move(message);
  return f;
}

SaveFound find_n64(const SaveRequest& request) {
  n64_identify();
  N64SaveType type = n64_save_type_named(request.save_type);
  const bool named = type != N64SaveType::none;
  SaveFound f;
  if (!named) {
    const N64SaveFind find = n64_find_save();
    if (!find.found) {
      SaveFound r = refuse(find.message);
      r.changed = find.changed;
      return r;
    }
    type = find.type;
    f.how = find.how;
  }
  std::string error;
  bool changed = false;
  if (!n64_save_area(type, !named, f.area, error, &changed)) {
    SaveFound r = refuse(error);
    r.changed = changed;
    return r;
  }
  f.default_name = [type] {
    return safe_file_name(n64_save_title(), "n64-save") + n64_save_extension(type);
  };
  f.ok = true;
  return f;
}

}  // namespace

bool save_slot_known(const std::string& slot) {
  return slot == "sfc" || slot == "n64" || slot == "wsc" || slot == "nes";
}

const char* save_slot_names() { return "sfc, n64, wsc or nes"; }

std::vector<SaveShape> save_request_shapes(const SaveRequest& request) {
  if (request.slot == "n64") {
    const N64SaveType type = n64_save_type_named(request.save_type);
    if (type == N64SaveType::none) return n64_save_shapes();
    return {n64_save_shapes()[static_cast<size_t>(type) - 1]};
  }
  if (request.slot == "sfc") return sfc_save_shapes();
  if (request.slot == "wsc") return wsc_save_shapes();
  if (request.slot == "nes") return nes_save_shapes();
  return {};
}

SaveFound save_find(const SaveRequest& request) {
  if (request.slot == "n64") return find_n64(request);
  if (request.slot == "sfc") return save_find_sfc();
  if (request.slot == "wsc") return save_find_wsc();
  if (request.slot == "nes") return save_find_nes(request.mapper);
  return refuse("no save job for slot " + request.slot);
}
