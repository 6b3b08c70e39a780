// Structure of the embedded agent image and of the splash picture in it.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "agent/agent_image.h"
#include "agent/agent_layout.h"
#include "agent/splash/splash_encode.h"
#include "agent/splash/splash_picture.h"
#include "contract/wire.h"
#include "sim/console/bios_loader.h"
#include "sim/cart/cart_header.h"

namespace {

using kartex::AgentLayout;

constexpr std::uint32_t STACK_TOP_SYSTEM = 0x03007F00;

std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// ---- ARM instruction decoding, just enough for an entry point ----

bool condition_always(std::uint32_t insn) { return insn >> 28 == 0xE; }

bool is_branch(std::uint32_t insn) { return (insn & 0x0E000000) == 0x0A000000; }

// MSR CPSR_c, #imm: sets the mode bits with an immediate
bool is_msr_cpsr_control_imm(std::uint32_t insn) { return (insn & 0x0FFFF000) == 0x0321F000; }

std::uint32_t arm_immediate(std::uint32_t insn) {
  std::uint32_t value = insn & 0xFF;
  unsigned rotate = ((insn >> 8) & 0xF) * 2;
  return rotate ? (value >> rotate) | (value << (32 - rotate)) : value;
}

bool is_privileged_mode(std::uint32_t mode) {
  return mode == 0x11 || mode == 0x12 || mode == 0x13 || mode == 0x17 || mode == 0x1B || mode == 0x1F;
}

// The picture as the console shows it: tile t = 29 * row + column holds
// pixel (x, y) of its 8 x 8 square at byte 8 * y + x.
std::vector<std::uint8_t> untile(std::span<const std::uint8_t> tiles) {
  std::vector<std::uint8_t> pixels(SPLASH_WIDTH * SPLASH_HEIGHT);
  for (int y = 0; y < SPLASH_HEIGHT; ++y) {
    for (int x = 0; x < SPLASH_WIDTH; ++x) {
      int tile = (y / 8) * SPLASH_TILES_WIDE + x / 8;
      pixels[y * SPLASH_WIDTH + x] = tiles[tile * SPLASH_TILE_BYTES + (y % 8) * 8 + x % 8];
    }
  }
  return pixels;
}

bool in_border(int x, int y) {
  return x < kartex::SPLASH_BORDER || x >= SPLASH_WIDTH - kartex::SPLASH_BORDER || y < kartex::SPLASH_BORDER ||
         y >= SPLASH_HEIGHT - kartex::SPLASH_BORDER;
}

// ---- The image ----

TEST(AgentImage, SizeIsWhatTheLinkerLaidOut) {
  EXPECT_EQ(kartex::agent_image().size(), AgentLayout::image_size);
  EXPECT_EQ(AgentLayout::load_address, EWRAM_BASE);
  EXPECT_EQ(AgentLayout::resident_address, IWRAM_BASE);
}

TEST(AgentImage, PiecesFollowEachOtherInOrder) {
  struct Piece {
    const char* name;
    std::size_t offset;
    std::size_t size;
  };
  const Piece pieces[] = {
      {"boot stage", 0, AgentLayout::boot_size},
      {"splash palette", AgentLayout::palette_offset, SPLASH_PALETTE_SIZE},
      {"splash tiles", AgentLayout::tiles_offset, SPLASH_TILES_SIZE},
      {"resident stage", AgentLayout::resident_offset, AgentLayout::resident_size},
      {"cold code", AgentLayout::cold_offset, AgentLayout::cold_size},
  };
  std::size_t expected = 0;
  for (const Piece& piece : pieces) {
    SCOPED_TRACE(piece.name);
    EXPECT_EQ(piece.offset, expected);
    EXPECT_GT(piece.size, 0u);
    expected = piece.offset + piece.size;
  }
  EXPECT_EQ(AgentLayout::splash_end_offset, AgentLayout::resident_offset);
  // The cold code is the last piece: nothing follows it
  EXPECT_EQ(expected, kartex::agent_image().size());
}

TEST(AgentImage, ResidentStageFitsTheCopyAndLeavesRoomForStateAndStack) {
  EXPECT_LE(AgentLayout::resident_size, std::size_t{RESIDENT_MAX_SIZE});
  EXPECT_EQ(AgentLayout::resident_offset % 4, 0u) << "DMA moves 32-bit units from here";
  EXPECT_GE(AgentLayout::state_start, std::uint32_t{IWRAM_BASE + RESIDENT_MAX_SIZE})
      << "state inside the resident copy would be overwritten at start-up";
  EXPECT_LT(AgentLayout::state_end, STACK_TOP_SYSTEM);
}

TEST(AgentImage, BothStagesStartWithAnArmEntryInstruction) {
  struct Entry {
    const char* stage;
    std::size_t offset;
  };
  const Entry entries[] = {{"boot", 0}, {"resident", AgentLayout::resident_offset}};
  for (const Entry& entry : entries) {
    SCOPED_TRACE(entry.stage);
    std::uint32_t insn = word_at(kartex::agent_image(), entry.offset);
    EXPECT_TRUE(condition_always(insn)) << std::hex << insn;
    bool entry_form = is_branch(insn) ||
                      (is_msr_cpsr_control_imm(insn) && is_privileged_mode(arm_immediate(insn) & 0x1F));
    EXPECT_TRUE(entry_form) << "not a branch or a mode switch: 0x" << std::hex << insn;
  }
}

// Where an ARM branch at `offset` of the image goes.
std::size_t branch_target(std::span<const std::uint8_t> image, std::size_t offset) {
  const std::uint32_t insn = word_at(image, offset);
  const std::int32_t words = static_cast<std::int32_t>(insn << 8) >> 8;
  return static_cast<std::size_t>(static_cast<std::int64_t>(offset) + 8 + 4 * static_cast<std::int64_t>(words));
}

TEST(AgentImage, StartsTheSameWayFromItsFirstWordAndThroughTheBiosMultiboot) {
  auto image = kartex::agent_image();
  // What the BIOS checks: the logo, the fixed byte, the complement.
  EXPECT_EQ(kartex::multiboot_refusal(image), "");
  EXPECT_TRUE(std::equal(kartex::header_logo().begin(), kartex::header_logo().end(), image.begin() + 4));
  // The entry at 0 and the multiboot entry at 0xC0 lead to one start,
  // behind the boot-mode bytes the BIOS writes at 0xC4 and 0xC5.
  for (std::size_t entry : {std::size_t{0}, std::size_t{kartex::multiboot::ENTRY_OFFSET}}) {
    SCOPED_TRACE(entry);
    EXPECT_TRUE(is_branch(word_at(image, entry)) && condition_always(word_at(image, entry)));
  }
  const std::size_t start = branch_target(image, 0);
  EXPECT_EQ(branch_target(image, kartex::multiboot::ENTRY_OFFSET), start);
  EXPECT_GT(start, std::size_t{kartex::multiboot::SLAVE_ID});
  EXPECT_LT(start, AgentLayout::boot_size);
  // What the BIOS leaves in the image does not change where it goes.
  std::vector<std::uint8_t> loaded(image.begin(), image.end());
  kartex::multiboot_patch(loaded);
  EXPECT_EQ(branch_target(loaded, 0), kartex::multiboot::ENTRY_OFFSET);
  EXPECT_TRUE(std::equal(image.begin() + 4, image.begin() + kartex::multiboot::BOOT_MODE, loaded.begin() + 4));
}

TEST(AgentImage, BootStageCopiesEachStageFromItsPlaceInTheImage) {
  struct Copy {
    const char* stage;
    std::size_t offset;
    std::uint32_t address;
  };
  const Copy copies[] = {{"resident", AgentLayout::resident_offset, AgentLayout::resident_address},
                         {"cold", AgentLayout::cold_offset, AgentLayout::cold_address}};
  auto image = kartex::agent_image();
  for (const Copy& copy : copies) {
    SCOPED_TRACE(copy.stage);
    const std::uint32_t source = AgentLayout::load_address + static_cast<std::uint32_t>(copy.offset);
    bool from = false, to = false;
    for (std::size_t offset = 0; offset + 4 <= AgentLayout::boot_size; offset += 4) {
      from = from || word_at(image, offset) == source;
      to = to || word_at(image, offset) == copy.address;
    }
    EXPECT_TRUE(from) << "no literal 0x" << std::hex << source << " in the boot stage";
    EXPECT_TRUE(to) << "no literal 0x" << std::hex << copy.address << " in the boot stage";
  }
}

TEST(AgentImage, ColdCodeLiesInVideoRamThatNoPageOrClearReaches) {
  EXPECT_EQ(AgentLayout::cold_address, std::uint32_t{AGENT_COLD_BASE});
  EXPECT_EQ(AgentLayout::cold_offset % 4, 0u) << "DMA moves 32-bit units from here";
  EXPECT_LE(AgentLayout::cold_size, std::size_t{AGENT_COLD_MAX_SIZE});
  EXPECT_EQ(AgentLayout::cold_size % 4, 0u);
  // Page 1 of the bitmap modes ends 0x13600 into video RAM, a stream clears
  // 0x14000, the object tiles end at 0x18000.
  EXPECT_GE(AgentLayout::cold_address, 0x06014000u);
  EXPECT_LE(AgentLayout::cold_address + AgentLayout::cold_size, 0x06018000u);
}

TEST(AgentImage, ResidentStageHoldsNoAddressOfTheOverwrittenBootArea) {
  // A loaded program overwrites external work RAM; the resident stage may
  // use its start as the data buffer but must not reach boot code or splash.
  auto image = kartex::agent_image();
  const std::uint32_t low = AgentLayout::load_address + 1;
  const std::uint32_t high = AgentLayout::load_address + AgentLayout::resident_offset;
  for (std::size_t offset = AgentLayout::resident_offset; offset + 4 <= image.size(); offset += 4) {
    std::uint32_t word = word_at(image, offset);
    EXPECT_FALSE(word >= low && word < high)
        << "word 0x" << std::hex << word << " at resident offset 0x" << offset - AgentLayout::resident_offset;
  }
}

TEST(AgentImage, CarriesTheGeneratedSplashPicture) {
  auto image = kartex::agent_image();
  const kartex::SplashPicture picture = kartex::splash_draw();
  const std::vector<std::uint8_t> palette = kartex::splash_palette_bytes(picture);
  const std::vector<std::uint8_t> tiles = kartex::splash_tile_bytes(picture);

  ASSERT_EQ(palette.size(), std::size_t{SPLASH_PALETTE_SIZE});
  ASSERT_EQ(tiles.size(), std::size_t{SPLASH_TILES_SIZE});
  EXPECT_TRUE(std::equal(palette.begin(), palette.end(), image.begin() + AgentLayout::palette_offset));
  EXPECT_TRUE(std::equal(tiles.begin(), tiles.end(), image.begin() + AgentLayout::tiles_offset));
}

TEST(AgentImage, SplashTilesRebuildThePictureWithItsBackgroundFrame) {
  auto tiles = kartex::agent_image().subspan(AgentLayout::tiles_offset, SPLASH_TILES_SIZE);
  const std::vector<std::uint8_t> shown = untile(tiles);
  const kartex::SplashPicture picture = kartex::splash_draw();

  EXPECT_TRUE(std::equal(shown.begin(), shown.end(), picture.pixels.begin()));
  int wrong = 0;
  for (int y = 0; y < SPLASH_HEIGHT; ++y)
    for (int x = 0; x < SPLASH_WIDTH; ++x)
      wrong += (shown[y * SPLASH_WIDTH + x] == SPLASH_BACKGROUND) != in_border(x, y);
  EXPECT_EQ(wrong, 0) << "pixels where the background colour is, or is missing, off the frame";
}

// ---- The splash generator ----

TEST(SplashPicture, ColoursAre15BitAndTheRolesDiffer) {
  const kartex::SplashPicture picture = kartex::splash_draw();
  for (std::size_t i = 0; i < picture.palette.size(); ++i)
    EXPECT_EQ(picture.palette[i] & 0x8000, 0) << "colour " << i;
  EXPECT_NE(picture.palette[kartex::SPLASH_TEXT], picture.palette[SPLASH_BACKGROUND]);
  EXPECT_NE(picture.palette[kartex::SPLASH_TEXT], picture.palette[kartex::SPLASH_SHADOW]);
  EXPECT_NE(picture.palette[0], picture.palette[kartex::SPLASH_GRADIENT_COLOURS - 1]);
}

TEST(SplashPicture, PaletteBytesAreLittleEndianHalfwords) {
  const kartex::SplashPicture picture = kartex::splash_draw();
  const std::vector<std::uint8_t> bytes = kartex::splash_palette_bytes(picture);
  ASSERT_EQ(bytes.size(), std::size_t{SPLASH_PALETTE_SIZE});
  for (std::size_t i = 0; i < picture.palette.size(); ++i)
    EXPECT_EQ(bytes[2 * i] | bytes[2 * i + 1] << 8, picture.palette[i]) << "colour " << i;
}

TEST(SplashPicture, OnlyTheFrameUsesTheBackgroundColour) {
  const kartex::SplashPicture picture = kartex::splash_draw();
  int wrong = 0;
  for (int y = 0; y < SPLASH_HEIGHT; ++y)
    for (int x = 0; x < SPLASH_WIDTH; ++x)
      wrong += (picture.at(x, y) == SPLASH_BACKGROUND) != in_border(x, y);
  EXPECT_EQ(wrong, 0);
}

TEST(SplashPicture, WordIsDrawnInsideTheFrame) {
  const kartex::SplashPicture picture = kartex::splash_draw();
  int text = 0, shadow = 0, gradient = 0;
  for (int y = 0; y < SPLASH_HEIGHT; ++y) {
    for (int x = 0; x < SPLASH_WIDTH; ++x) {
      std::uint8_t index = picture.at(x, y);
      text += index == kartex::SPLASH_TEXT;
      shadow += index == kartex::SPLASH_SHADOW;
      gradient += index < kartex::SPLASH_GRADIENT_COLOURS;
    }
  }
  EXPECT_GT(text, 0);
  EXPECT_GT(shadow, 0);
  EXPECT_GT(gradient, text) << "the gradient should cover most of the picture";
}

TEST(SplashPicture, DrawingIsDeterministic) {
  const kartex::SplashPicture first = kartex::splash_draw();
  const kartex::SplashPicture second = kartex::splash_draw();
  EXPECT_EQ(first.palette, second.palette);
  EXPECT_EQ(first.pixels, second.pixels);
}

}  // namespace
