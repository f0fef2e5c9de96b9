#include "runner/args.h"

#include "runner/runner.h"

namespace {

bool parse_digits(std::string_view text, uint64_t base, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    uint64_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint64_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<uint64_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<uint64_t>(c - 'A' + 10);
    else return false;
    if (d >= base || v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  out = v;
  return true;
}

}  // namespace

bool parse_number(std::string_view text, uint64_t& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return parse_digits(text.substr(2), 16, out);
  }
  return parse_digits(text, 10, out);
}

bool parse_size(std::string_view text, uint64_t& out) {
  uint64_t unit = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1024;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1024 * 1024;
  if (unit == 1) return parse_number(text, out);
  uint64_t v = 0;
  if (!parse_digits(text.substr(0, text.size() - 1), 10, v) || v > UINT64_MAX / unit) return false;
  out = v * unit;
  return true;
}

const std::string* JobWords::value(const std::string& name) const {
  const auto found = values.find(name);
  return found == values.end() ? nullptr : &found->second;
}

bool split_job_words(const std::vector<std::string>& words, const std::vector<JobOption>& options,
                     JobWords& out) {
  out = {};
  bool only_positional = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (only_positional || word.size() < 3 || word.compare(0, 2, "--") != 0) {
      if (word == "--") {
        only_positional = true;
        continue;
      }
      out.positional.push_back(word);
      continue;
    }
    const std::string name = word.substr(2);
    const JobOption* option = nullptr;
    for (const auto& o : options) {
      if (name == o.name) option = &o;
    }
    if (!option) {
      runner_error("unknown option '%s'", word.c_str());
      return false;
    }
    if (out.has(name)) {
      runner_error("option '%s' given twice", word.c_str());
      return false;
    }
    if (!option->takes_value) {
      out.switches.insert(name);
      continue;
    }
    if (i + 1 >= words.size()) {
      runner_error("option '%s' needs a value", word.c_str());
      return false;
    }
    out.values[name] = words[++i];
  }
  return true;
}
