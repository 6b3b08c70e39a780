#include "app/confirm_erase.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "cart/rom_reader.h"
#include "cart/rom_report.h"
#include "cart/rom_write.h"
#include "common/failure.h"
#include "common/output.h"

namespace kartex {

namespace {

// "the cartridge \"TITLE\" (game code CODE)", or without a name when the
// first bytes hold no header whose checksum agrees (an erased or foreign ROM).
std::string cartridge_name(CableLink& link) {
  const std::vector<std::uint8_t> first =
      read_rom_checked(link, 0, static_cast<std::uint32_t>(ROM_HEADER_END), std::nullopt);
  const std::optional<RomHeader> header = parse_rom_header(first);
  if (!header || !header->checksum_ok()) return "the cartridge (its ROM holds no header)";
  return strprintf("the cartridge \"%s\" (game code %s)", header->title.c_str(),
                   header->game_code.c_str());
}

std::string size_text(std::int32_t bytes) {
  const auto b = static_cast<unsigned>(bytes);
  if (b >= 0x100000 && b % 0x100000 == 0) return strprintf("0x%X bytes, %u MiB", b, b >> 20);
  return strprintf("0x%X bytes, %u KiB", b, b >> 10);
}

}  // namespace

void confirm_erase(CableLink& link, const CartInfo& cart, Output& con, std::istream& in) {
  require_flash_rom(cart, "erased");
  con.err << "Erase all " << size_text(cart.rom_size) << " of " << cartridge_name(link)
          << "? Type y to erase: " << std::flush;
  std::string answer;
  if (!std::getline(in, answer)) con.err << "\n";
  if (con.stop_requested && con.stop_requested()) fail_interrupted();
  answer.erase(std::remove_if(answer.begin(), answer.end(),
                              [](unsigned char c) { return std::isspace(c); }),
               answer.end());
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (answer != "y" && answer != "yes") fail("not erased: the cartridge is left as it was");
}

}  // namespace kartex
