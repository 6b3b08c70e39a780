// The libusb transport through its own code: kartex's whole fr command
// against the simulated cable presented as a USB device (umockdev), so
// that the dump goes through libusb's device search, open, claim,
// clear-halt and bulk transfers. Runs under umockdev-wrapper.

#include <gtest/gtest.h>
#include <umockdev.h>

#include <algorithm>
#include <sstream>

#include "sim/cart/cart_header.h"
#include "tests/support/emulated_usb_cable.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t ROM_SIZE = 1u << 20;

// The tool as a user runs it with the cable plugged in: no --sim, so the
// run finds the cable through libusb.
struct ToolOnUsb {
  std::ostringstream out, err;
  int status = -1;
  explicit ToolOnUsb(const std::vector<std::string>& args) {
    RunEnv env{out, err, {}, [](int) {}};
    env.dat_folder = std::filesystem::path();
    env.now = [] { return ProgressClock::time_point{}; };
    status = kartex::run(args, env);
  }
};

TEST(UsbEmulated, DumpThroughLibusbIsByteForByte) {
  const std::string dir = scratch("usb_dump");
  const Bytes rom = make_default_rom(ROM_SIZE);
  spill(dir + "rom.gba", rom);
  SimOptions sim;
  sim.rom_file = dir + "rom.gba";
  EmulatedUsbCable cable(sim);

  ToolOnUsb run({"--timeout", "5", "fr", dir + "dump.gba"});
  EXPECT_EQ(run.status, 0) << run.err.str();
  EXPECT_EQ(run.err.str(), "");
  EXPECT_TRUE(slurp(dir + "dump.gba") == rom) << "dump differs from the ROM";
  EXPECT_NE(run.out.str().find("MASK ROM SIZE=0x100000\n"), std::string::npos) << run.out.str();
  EXPECT_TRUE(run.out.str().ends_with(checksum_lines(rom))) << run.out.str();

  const auto counts = cable.counts();
  EXPECT_EQ(cable.problems(), "");
  EXPECT_EQ(counts.claims, 1);
  // Each pipe reset once, in the driver's order: command, data out, data in.
  EXPECT_EQ(counts.clear_halts, (std::vector<int>{0x01, 0x03, 0x82}));
  // The whole ROM came in over bulk URBs, besides the replies.
  EXPECT_GE(counts.bulk_in, rom.size());
  EXPECT_GT(counts.bulk_out, 0u);
}

TEST(UsbEmulated, CablePulledMidDumpEndsWithOneLine) {
  const std::string dir = scratch("usb_pull");
  const Bytes rom = make_default_rom(ROM_SIZE);
  spill(dir + "rom.gba", rom);
  SimOptions sim;
  sim.rom_file = dir + "rom.gba";
  EmulatedUsbCable cable(sim);
  cable.pull_after(ROM_SIZE / 4);

  ToolOnUsb run({"--timeout", "5", "fr", dir + "dump.gba"});
  EXPECT_EQ(run.status, 255);
  const std::string err = run.err.str();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(err.starts_with("kartex: ")) << err;
  EXPECT_NE(err.find("No such device"), std::string::npos) << err;
  // Part of a dump is no dump: neither the file nor its temporary stays.
  EXPECT_FALSE(std::filesystem::exists(dir + "dump.gba"));
  EXPECT_FALSE(std::filesystem::exists(dir + "dump.gba.kartex-part"));
  // It stopped where the cable went, not after waiting out a time limit.
  EXPECT_LT(cable.counts().bulk_in, ROM_SIZE / 2);
}

TEST(UsbEmulated, NoDevicePrintsTheToolsLine) {
  // A testbed without devices: libusb finds nothing, whatever this
  // machine has plugged in.
  UMockdevTestbed* testbed = umockdev_testbed_new();
  const std::string dir = scratch("usb_none");
  ToolOnUsb run({"fr", dir + "dump.gba"});
  g_object_unref(testbed);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out.str(), BANNER + "Error can't found Tetherbox USB !!.\n");
}

}  // namespace
}  // namespace kartex::test
