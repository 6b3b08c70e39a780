#include "cart/dat_match.h"

#include <algorithm>

namespace kartex {

namespace {

// Every hash the entry lists agrees; a hash it does not list is no test.
bool same_bytes(const DatEntry& e, const DumpFacts& facts) {
  const DigestSet& d = facts.digests;
  return e.size == facts.length && (!e.crc32 || *e.crc32 == d.crc32) &&
         (e.md5.empty() || e.md5 == d.md5) && (e.sha1.empty() || e.sha1 == d.sha1) &&
         (e.sha256.empty() || e.sha256 == d.sha256);
}

bool lists_code(const DatEntry& e, const std::string& code) {
  return std::find(e.codes.begin(), e.codes.end(), code) != e.codes.end();
}

void fill_mismatch(DatVerdict& v, const DatEntry& e, const DumpFacts& facts) {
  const DigestSet& d = facts.digests;
  std::vector<std::string> listed;
  if (e.size != facts.length) {
    v.differs.push_back("size");
    listed.push_back(strprintf("size (0x%llX)", static_cast<unsigned long long>(e.size)));
  }
  if (e.crc32 && *e.crc32 != d.crc32) {
    v.differs.push_back("CRC32");
    listed.push_back(strprintf("CRC32 (%08X)", *e.crc32));
  }
  if (!e.md5.empty() && e.md5 != d.md5) {
    v.differs.push_back("MD5");
    listed.push_back("MD5 (" + e.md5 + ")");
  }
  if (!e.sha1.empty() && e.sha1 != d.sha1) {
    v.differs.push_back("SHA-1");
    listed.push_back("SHA-1 (" + e.sha1 + ")");
  }
  if (!e.sha256.empty() && e.sha256 != d.sha256) {
    v.differs.push_back("SHA-256");
    listed.push_back("SHA-256 (" + e.sha256 + ")");
  }
  for (std::size_t i = 0; i < listed.size(); ++i)
    v.listed += (i == 0 ? "" : i + 1 == listed.size() ? " and " : ", ") + listed[i];
  if (e.size < facts.length)
    v.meaning = "a dump larger than the game is usually an overdump: the chip holds more than the "
                "game, and the catalogue lists the game alone";
  else if (e.size > facts.length)
    v.meaning = "a dump smaller than the game usually means the cartridge answered for less ROM "
                "than it holds: a bad contact on the upper address lines";
  else
    v.meaning = "other bytes at the same size usually mean a bad contact (clean the contacts and "
                "dump again) or a different revision of the game";
}

}  // namespace

DatVerdict match_dump(const std::vector<DatFile>& dats, const DumpFacts& facts, bool save) {
  DatVerdict v;
  bool any = false;
  const DatEntry* same_code = nullptr;
  const DatFile* same_code_dat = nullptr;
  const std::string code = !save && facts.header ? facts.header->game_code : std::string();
  for (const DatFile& dat : dats)
    for (const DatEntry& e : dat.entries) {
      if (names_save_file(e.file) != save) continue;
      any = true;
      if (same_bytes(e, facts)) {
        v.kind = DatVerdict::Kind::Verified;
        v.name = e.game;
        v.dat = dat.name;
        return v;
      }
      // Of the entries for this game, the one of the dump's size tells
      // the most: its hashes alone differ.
      if (code.size() == 4 && lists_code(e, code) &&
          (!same_code || (same_code->size != facts.length && e.size == facts.length))) {
        same_code = &e;
        same_code_dat = &dat;
      }
    }
  if (!any) return v;
  if (!same_code) {
    v.kind = DatVerdict::Kind::NotListed;
    return v;
  }
  v.kind = DatVerdict::Kind::Mismatch;
  v.name = same_code->game;
  v.dat = same_code_dat->name;
  fill_mismatch(v, *same_code, facts);
  return v;
}

void print_dat_verdict(Output& con, const DatVerdict& v) {
  switch (v.kind) {
    case DatVerdict::Kind::NoCatalogue: return;
    case DatVerdict::Kind::Verified: con.print("Verified: %s\n", v.name.c_str()); return;
    case DatVerdict::Kind::NotListed: con.print("Not in the DAT files\n"); return;
    case DatVerdict::Kind::Mismatch:
      con.print("Not verified: %s lists another %s; %s\n", v.name.c_str(), v.listed.c_str(),
                v.meaning.c_str());
      return;
  }
}

}  // namespace kartex
