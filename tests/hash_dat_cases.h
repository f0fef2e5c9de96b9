// Cases for the image hashes and the known-good list reader, shared by the unit tests and by
// cartlink-selftest, which runs them on Windows (under wine) against the Windows API and
// XmlLite.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HashVector {
  const char* what;
  std::string input;
  uint32_t crc32;
  const char* sha1;  // lower-case hex
};

// SHA-1: the published FIPS 180 examples. CRC-32: "123456789" is the published check value,
// the others are zlib's.
inline std::vector<HashVector> hash_vectors() {
  return {
      {"check string", "123456789", 0xCBF43926u, "f7c3bc1d808e04732adf679965ccc34ca7ae3441"},
      {"abc", "abc", 0x352441C2u, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"empty", "", 0x00000000u, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 0x171A3F5Fu,
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"a million a", std::string(1000000, 'a'), 0xDC25BFBCu,
       "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
}

// Sizes of the pieces an input is fed in: around SHA-1's 64-byte block and far past it.
inline const size_t kHashPieces[] = {1, 3, 63, 64, 65, 4096, 999999};

// A list as the preservation sets publish it: a document type naming an external DTD, a
// header, a game and a machine, a rom without SHA-1 and one never dumped.
inline const char* const kGoodDat =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
    "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
    "<datafile>\n"
    "\t<header><name>Test - Known Good</name><version>1</version></header>\n"
    "\t<game name=\"Alpha &amp; Beta (World)\">\n"
    "\t\t<description>Alpha &amp; Beta (World)</description>\n"
    "\t\t<rom name=\"Alpha &amp; Beta (World).sfc\" size=\"9\" crc=\"cbf43926\" "
    "sha1=\"f7c3bc1d808e04732adf679965ccc34ca7ae3441\"/>\n"
    "\t</game>\n"
    "\t<machine name=\"Gamma &#x3B3; (Japan)\">\n"
    "\t\t<rom name=\"Gamma (Japan).z64\" size=\"3\" crc=\"352441C2\" "
    "sha1=\"A9993E364706816ABA3E25717850C26C9CD0D89D\"/>\n"
    "\t\t<rom name=\"Gamma (Japan).sav\" size=\"0\" crc=\"00000000\"/>\n"
    "\t\t<rom name=\"Gamma (Japan).bad\" size=\"512\" status=\"nodump\"/>\n"
    "\t</machine>\n"
    "</datafile>\n";

struct DatTextCase {
  const char* what;
  std::string text;
  size_t roms;        // entries read when accepted
  std::string error;  // empty: accepted; else a part of the message ("test.dat line 3: ...")
};

inline std::string dat_with_rom(const std::string& rom_attributes) {
  return "<datafile>\n<game name=\"g\">\n<rom name=\"r\" " + rom_attributes +
         "/>\n</game>\n</datafile>\n";
}

// The text in UTF-16, little-endian, with its byte-order mark (ASCII text only).
inline std::string utf16le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

inline std::vector<DatTextCase> dat_text_cases() {
  const std::string laughs =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE datafile [\n"
      "<!ENTITY a \"aaaaaaaaaaaaaaaa\">\n"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
      "]>\n"
      "<datafile><game name=\"&c;\"><rom size=\"1\" crc=\"00000000\"/></game></datafile>\n";
  const std::string subset_refused = "line 2: not well-formed XML: a document type with its own";
  return {
      {"published form", kGoodDat, 3, ""},
      {"namespaced root, more hashes, UTF-8 byte-order mark",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<datafile xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
       "xsi:schemaLocation=\"https://example.org/stuff https://example.org/stuff/dat.xsd\">\n"
       "<game name=\"Delta (Europe)\" id=\"0001\"><rom name=\"d.wsc\" size=\"1\" "
       "crc=\"e8b7be43\" md5=\"0cc175b9c0f1b6a831c399e269772661\" "
       "sha1=\"86f7e437faa5a7fce15d1ddcb9eaeaea377667b8\" status=\"verified\"/></game>\n"
       "</datafile>\n",
       1, ""},
      {"largest size", dat_with_rom("size=\"18446744073709551615\" crc=\"00000000\""), 1, ""},
      {"external DTD with a bracket in its name",
       "<!DOCTYPE datafile SYSTEM \"odd[1].dtd\">\n<datafile/>\n", 0, ""},
      {"UTF-16", utf16le(dat_with_rom("size=\"1\" crc=\"0000000a\"")), 1, ""},
      {"mismatched tag",
       "<datafile>\n<game name=\"g\">\n<rom size=\"1\" crc=\"00000000\"/>\n</gam>\n", 0,
       "test.dat line 4: not well-formed XML"},
      {"second root", "<datafile/>\n<datafile/>\n", 0, "line 2: not well-formed XML"},
      {"duplicate attribute", dat_with_rom("size=\"1\" size=\"2\" crc=\"00000000\""), 0,
       "line 3: not well-formed XML"},
      {"empty text", "", 0, "test.dat line 1: not well-formed XML"},
      {"crc not hex", dat_with_rom("size=\"1\" crc=\"12345G78\""), 0,
       "test.dat line 3: rom crc \"12345G78\""},
      {"crc of 7 digits", dat_with_rom("size=\"1\" crc=\"1234567\""), 0, "line 3: rom crc"},
      {"crc of 9 digits", dat_with_rom("size=\"1\" crc=\"123456789\""), 0, "line 3: rom crc"},
      {"crc missing", dat_with_rom("size=\"1\""), 0, "line 3: rom without a crc"},
      {"sha1 of 39 digits",
       dat_with_rom("size=\"1\" crc=\"00000000\" sha1=\"f7c3bc1d808e04732adf679965ccc34ca7ae344\""),
       0, "line 3: rom sha1"},
      {"sha1 not hex",
       dat_with_rom(
           "size=\"1\" crc=\"00000000\" sha1=\"f7c3bc1d808e04732adf679965ccc34ca7ae344x\""),
       0, "line 3: rom sha1"},
      {"size not decimal", dat_with_rom("size=\"0x10\" crc=\"00000000\""), 0, "line 3: rom size"},
      {"size negative", dat_with_rom("size=\"-1\" crc=\"00000000\""), 0, "line 3: rom size"},
      {"size empty", dat_with_rom("size=\"\" crc=\"00000000\""), 0, "line 3: rom size"},
      {"size past 64 bits", dat_with_rom("size=\"18446744073709551616\" crc=\"00000000\""), 0,
       "line 3: rom size"},
      {"size missing", dat_with_rom("crc=\"00000000\""), 0, "line 3: rom without a size"},
      {"rom in the datafile", "<datafile>\n<rom size=\"1\" crc=\"00000000\"/>\n</datafile>\n", 0,
       "test.dat line 2: a rom outside a game"},
      {"rom in the header",
       "<datafile>\n<header>\n<rom size=\"1\" crc=\"00000000\"/>\n</header>\n</datafile>\n", 0,
       "line 3: a rom outside a game"},
      {"rom below a game's child",
       "<datafile>\n<game name=\"g\"><part>\n<rom size=\"1\" crc=\"00000000\"/>\n</part></game>"
       "</datafile>\n",
       0, "line 3: a rom outside a game"},
      {"rom after a game closed",
       "<datafile>\n<game name=\"g\"/><header/>\n<rom size=\"1\" crc=\"00000000\"/>\n</datafile>\n",
       0, "line 3: a rom outside a game"},
      {"not a datafile", "<softwarelist>\n</softwarelist>\n", 0,
       "line 1: the document is <softwarelist>"},
      {"game without a name", "<datafile>\n<game>\n</game>\n</datafile>\n", 0,
       "line 2: <game> without a name"},
      {"entities declared in the document", laughs, 0, subset_refused},
      {"external entity",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile [\n<!ENTITY x SYSTEM \"/etc/passwd\">\n]>\n"
       "<datafile><game name=\"&x;\"/></datafile>\n",
       0, subset_refused},
      {"entities after a commented document type",
       "<!-- <!DOCTYPE datafile> -->\n<!DOCTYPE datafile [<!ENTITY e \"x\">]>\n<datafile/>\n", 0,
       subset_refused},
      {"UTF-16 entities", utf16le("<!DOCTYPE datafile [<!ENTITY e \"x\">]>\n<datafile/>\n"), 0,
       "line 1: not well-formed XML: a document type with its own"},
  };
}
