#include "app/report_json.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "common/clock_time.h"
#include "common/output.h"
#include "contract/hw/cart_clock.h"

namespace kartex {

namespace {

using json = nlohmann::ordered_json;

std::string lower_word(Command command) {
  std::string word = command_word(command);
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return word;
}

double seconds_of(std::chrono::nanoseconds t) { return std::chrono::duration<double>(t).count(); }

json digests_json(const DigestSet& d) {
  return {{"crc32", strprintf("%08X", d.crc32)}, {"md5", d.md5}, {"sha1", d.sha1}, {"sha256", d.sha256}};
}

const char* rom_kind_name(std::int32_t kind) {
  if (kind == ROM_KIND_NONE) return "none";
  if (kind == ROM_KIND_MASK) return "mask ROM";
  return "flash ROM";
}

json clock_json(const std::optional<ClockReading>& clock) {
  if (!clock) return {{"present", false}};
  return {{"present", true},
          {"time", clock->time ? json(format_clock_time(*clock->time)) : json(nullptr)},
          {"hour_24", (clock->status & CLOCK_STATUS_24H) != 0},
          {"power_lost", (clock->status & CLOCK_STATUS_POWER_LOST) != 0},
          {"status", clock->status}};
}

json cartridge_json(const RunResults& r) {
  json c;
  const CartInfo& cart = *r.cart;
  c["rom"] = {{"kind", cart.rom_kind},
              {"kind_name", rom_kind_name(cart.rom_kind)},
              {"size", cart.rom_size},
              {"erase_block", cart.erase_block}};
  c["variant"] = cart.variant;
  const SaveGeometry g = save_geometry(cart.save_type, cart.variant);
  c["save"] = {{"type", cart.save_type},
               {"name", *g.name ? json(g.name) : json(nullptr)},
               {"size", cart.save_size},
               {"block", cart.save_block}};
  if (r.header) {
    const RomHeader& h = *r.header;
    c["header"] = {{"title", h.title},
                   {"game_code", h.game_code},
                   {"maker_code", h.maker_code},
                   {"version", h.version},
                   {"checksum", h.checksum},
                   {"checksum_computed", h.computed},
                   {"checksum_ok", h.checksum_ok()}};
  } else {
    c["header"] = nullptr;
  }
  if (r.chip) {
    c["flash_chip"] = {{"maker", r.chip->maker},
                       {"devices", r.chip->devices},
                       {"pair", r.chip->pair},
                       {"command_set", r.chip->command_set},
                       {"erase_block", r.chip->erase_block},
                       {"write_buffer", r.chip->buffer}};
  } else {
    c["flash_chip"] = nullptr;
  }
  // null where the run did not ask for the clock
  if (r.clock_read) c["clock"] = clock_json(r.clock);
  else c["clock"] = nullptr;
  return c;
}

json dump_json(const RunResults& r) {
  const DumpFacts& f = *r.dump;
  const double seconds = seconds_of(f.elapsed);
  json d = digests_json(f.digests);
  d["of"] = r.dump_is_save ? "save" : "rom";
  d["file"] = r.dump_file;
  d["offset"] = f.offset;
  d["length"] = f.length;
  d["whole"] = f.whole;
  d["seconds"] = seconds;
  d["bytes_per_second"] = seconds > 0 ? json(f.length / seconds) : json(nullptr);
  d["reread_blocks"] = f.reread_blocks;
  d["blank_blocks"] = f.blank_blocks;
  d["filled_blocks"] = f.filled_blocks;
  return d;
}

const char* verdict_word(DatVerdict::Kind kind) {
  switch (kind) {
    case DatVerdict::Kind::Verified: return "verified";
    case DatVerdict::Kind::Mismatch: return "mismatch";
    case DatVerdict::Kind::NotListed: return "not-listed";
    case DatVerdict::Kind::NoCatalogue: break;
  }
  return "no-catalogue";
}

json dat_json(const RunResults& r) {
  json files = json::array();
  for (const DatFile& dat : r.dats)
    files.push_back({{"path", dat.path}, {"name", dat.name}, {"entries", dat.entries.size()}});
  json d = {{"files", files}, {"problems", r.dat_problems}};
  const DatVerdict v = r.verdict.value_or(DatVerdict{});
  d["verdict"] = verdict_word(v.kind);
  if (v.kind == DatVerdict::Kind::Verified || v.kind == DatVerdict::Kind::Mismatch) {
    d["name"] = v.name;
    d["dat"] = v.dat;
  }
  if (v.kind == DatVerdict::Kind::Mismatch) {
    d["differs"] = v.differs;
    d["listed"] = v.listed;
    d["meaning"] = v.meaning;
  }
  return d;
}

json write_json(const WriteFacts& w) {
  json j = digests_json(w.file_digests);
  j["file"] = w.file;
  j["file_size"] = w.file_size;
  j["offset"] = w.offset >= 0 ? json(w.offset) : json(nullptr);
  j["length"] = w.length >= 0 ? json(w.length) : json(nullptr);
  j["verify"] = w.verify;
  return j;
}

}  // namespace

std::string report_text(const Invocation& inv, const RunResults& r) {
  json report;
  report["schema_version"] = REPORT_SCHEMA_VERSION;
  report["tool"] = {{"name", "kartex"}, {"version", KARTEX_VERSION}};
  report["command"] = lower_word(inv.command);
  if (r.cart) report["cartridge"] = cartridge_json(r);
  if (r.dump) {
    report["dump"] = dump_json(r);
    report["dat"] = dat_json(r);
  }
  if (r.write) report["write"] = write_json(*r.write);
  if (r.erased) report["erase"] = {{"bytes", *r.erased}};
  report["seconds"] = seconds_of(r.elapsed);
  // Titles come from the cartridge: bytes that are not UTF-8 are shown,
  // not refused.
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace kartex
