// Numbers on cartlink-run's command line.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Decimal or 0x hex, all of the text; false on anything else or past 64 bits.
bool parse_number(std::string_view text, uint64_t& out);
// A number as above, or a decimal one with a K or M suffix (KiB, MiB).
bool parse_size(std::string_view text, uint64_t& out);

// The words after a job's name, split into positional words and options: "--NAME VALUE" for an
// option that takes a value, "--NAME" for a switch. Options may stand anywhere among the words.
#include <map>
#include <set>
#include <string>
#include <vector>

struct JobOption {
  const char* name;  // without the dashes
  bool takes_value;
};

struct JobWords {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options given with a value
  std::set<std::string> switches;             // switches given

  bool has(const std::string& name) const { return values.count(name) || switches.count(name); }
  // The option's value, or nullptr when it was not given.
  const std::string* value(const std::string& name) const;
};

// Splits `words` by `options`; false, with a message on standard error, on an unknown option,
// an option given twice, or one that lacks its value. A lone "--" ends the options.
bool split_job_words(const std::vector<std::string>& words, const std::vector<JobOption>& options,
                     JobWords& out);
