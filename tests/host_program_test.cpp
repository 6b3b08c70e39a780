// Program load: the clock stamp, the program file, and the rtc command on
// the wire, on a fresh cable and on one that still runs the agent.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/output.h"
#include "app/run.h"
#include "app/session.h"
#include "host/clock_stamp.h"
#include "host/hostio_protocol.h"
#include "host/program_file.h"
#include "host/program_header.h"
#include "contract/hw/cart_header.h"
#include "sim/console/bios_loader.h"
#include "common/failure.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {


std::tm local_of(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string date_line(std::time_t t) {
  const std::tm tm = local_of(t);
  return strprintf("%04d/%02d/%02d %02d:%02d:%02d \n", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                   tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// A clock that reads `first`, `repeats` times more, then one second later.
WallClock ticking(std::time_t first, int repeats, int* reads = nullptr) {
  return [=]() mutable {
    if (reads) ++*reads;
    return repeats-- >= 0 ? first : first + 1;
  };
}

TEST(ClockStamp, BytesAreThePlainCalendarFields) {
  struct Case {
    int year, month, day, weekday, hour, minute, second;
    ClockStampBytes bytes;
  };
  const Case cases[] = {
      {2010, 1, 31, 0, 23, 59, 58, {'R', 'T', 'C', 'D', 10, 1, 31, 0, 23, 59, 58, 0}},
      {2009, 12, 1, 2, 0, 0, 0, {'R', 'T', 'C', 'D', 9, 12, 1, 2, 0, 0, 0, 0}},
      {2099, 6, 15, 6, 12, 30, 59, {'R', 'T', 'C', 'D', 99, 6, 15, 6, 12, 30, 59, 0}},
      {2100, 2, 28, 0, 1, 2, 3, {'R', 'T', 'C', 'D', 0, 2, 28, 0, 1, 2, 3, 0}},
  };
  for (const Case& tc : cases) {
    std::tm tm{};
    tm.tm_year = tc.year - 1900;
    tm.tm_mon = tc.month - 1;
    tm.tm_mday = tc.day;
    tm.tm_wday = tc.weekday;
    tm.tm_hour = tc.hour;
    tm.tm_min = tc.minute;
    tm.tm_sec = tc.second;
    EXPECT_EQ(clock_stamp_bytes(tm), tc.bytes) << tc.year;
  }
}

TEST(ClockStamp, WaitsForTheNextSecondAndStampsTheTitleField) {
  std::ostringstream out, err;
  Output con{out, err};
  const std::time_t t0 = 1264982398;
  std::vector<std::uint8_t> image(300, 0xAB);
  int reads = 0;
  EXPECT_EQ(stamp_clock(image, con, ticking(t0, 5, &reads)), 12u);
  EXPECT_EQ(reads, 7) << "read until the second changed";
  const ClockStampBytes expected = clock_stamp_bytes(local_of(t0 + 1));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 160));
  EXPECT_EQ(image[159], 0xAB);
  EXPECT_EQ(image[172], 0xAB);
  EXPECT_EQ(out.str(), date_line(t0 + 1));
}

TEST(ClockStamp, AShortImageKeepsItsLength) {
  for (std::size_t size : {0u, 100u, 160u, 165u, 171u, 172u}) {
    SCOPED_TRACE(size);
    std::ostringstream out, err;
    Output con{out, err};
    std::vector<std::uint8_t> image(size, 0xAB);
    stamp_clock(image, con, ticking(1000, 0));
    ASSERT_EQ(image.size(), size);
    const ClockStampBytes stamp = clock_stamp_bytes(local_of(1001));
    for (std::size_t i = 0; i < size; ++i)
      EXPECT_EQ(image[i], i < 160 ? 0xAB : stamp[i - 160]) << i;
  }
}

// A program of `size` bytes of 'p' with the header the BIOS checks (when
// it is long enough for one): logo and fixed byte; the complement is left
// wrong, as the stamp mends it.
Bytes program_bytes(std::size_t size) {
  Bytes data(size, 'p');
  if (size >= HDR_SIZE) {
    const std::uint8_t logo[] = {CART_LOGO_BYTES};
    std::copy(std::begin(logo), std::end(logo), data.begin() + HDR_LOGO);
    data[HDR_FIXED] = HDR_FIXED_VALUE;
  }
  return data;
}

std::string spill_bytes(const std::string& name, const Bytes& data) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return path;
}

std::string spill_program(const std::string& name, std::size_t size) { return spill_bytes(name, program_bytes(size)); }

// The program as it goes on the wire: stamped, its complement mended.
Bytes stamped(Bytes image, std::time_t at) {
  const ClockStampBytes stamp = clock_stamp_bytes(local_of(at));
  std::copy(stamp.begin(), stamp.end(), image.begin() + 160);
  image[HDR_COMPLEMENT] = header_complement(image);
  return image;
}

TEST(ClockStamp, TheHeaderComplementFollowsTheStampedTitle) {
  // The stamp rewrites the title, which the complement covers: the BIOS
  // would refuse the image with the complement it had.
  Bytes image = program_bytes(400);
  image[HDR_COMPLEMENT] = header_complement(image);
  ASSERT_EQ(multiboot_refusal(image), "");
  std::ostringstream out, err;
  Output con{out, err};
  stamp_clock(image, con, ticking(1264982398, 0));
  EXPECT_EQ(multiboot_refusal(image), "");
  EXPECT_EQ(image, stamped(program_bytes(400), 1264982399));
}

TEST(ProgramFile, RefusesAHeaderTheBiosWouldRefuse) {
  struct Case {
    const char* what;
    Bytes data;
    std::string error;  // "": read
  };
  Bytes bad_logo = program_bytes(300), bad_fixed = program_bytes(300), no_complement = program_bytes(300);
  bad_logo[HDR_LOGO + 155] ^= 1;
  bad_fixed[HDR_FIXED] = 0;
  no_complement[HDR_COMPLEMENT] ^= 0x5A;
  const Case cases[] = {
      {"a logo byte", bad_logo, "its header logo differs from the console's at offset 0x9F"},
      {"the fixed byte", bad_fixed, "its header byte 0xB2 holds 0x00, not 0x96"},
      {"shorter than a header", program_bytes(191), "it is 191 bytes, shorter than the 192-byte header"},
      {"a complement the stamp will mend", no_complement, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string path = spill_bytes("kartex_header.gba", tc.data);
    try {
      auto data = read_program_file(path);
      EXPECT_EQ(tc.error, "") << "accepted";
      ASSERT_TRUE(data);
      EXPECT_EQ(*data, tc.data);
    } catch (const Failure& f) {
      EXPECT_EQ(f.what(), "program file " + path + " would not start on the console: " + tc.error);
    }
  }
}

TEST(ProgramFile, ReadWholeOrRefused) {
  struct Case {
    std::size_t size;
    const char* error;  // nullptr: read
  };
  const Case cases[] = {
      {192, nullptr},
      {262140, nullptr},
      {1, "would not start on the console: it is 1 bytes, shorter than the 192-byte header"},
      {262141, "is longer than 262140 bytes, the most one upload carries"},
      {262144, "is longer than 262140 bytes, the most one upload carries"},
      {300000, "is longer than 262140 bytes, the most one upload carries"},
      {0, "is empty: there is no program to start"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.size);
    const std::string path = spill_program("kartex_program.gba", tc.size);
    if (tc.error) {
      try {
        read_program_file(path);
        ADD_FAILURE() << "accepted";
      } catch (const Failure& f) {
        EXPECT_NE(std::string(f.what()).find(tc.error), std::string::npos) << f.what();
      }
    } else {
      auto data = read_program_file(path);
      ASSERT_TRUE(data);
      EXPECT_EQ(data->size(), tc.size);
    }
  }
  EXPECT_FALSE(read_program_file(::testing::TempDir() + "kartex_no_such_program.gba"));
  EXPECT_FALSE(read_program_file(""));
}

// The tool run from its command line on a scripted cable; the file service
// ends when the script is spent.
struct RtcRun {
  std::shared_ptr<ScriptedCable> cable = std::make_shared<ScriptedCable>();
  ScriptedCable& c = *cable;
  int opened = 0;
  std::ostringstream out, err;

  int operator()(std::vector<std::string> args, std::time_t now) {
    RunEnv env{out, err, {}, sleep_ms};
    env.opener = [this](const TransportOptions&) -> PipesOpener {
      return [this]() -> std::unique_ptr<Pipes> {
        ++opened;
        return opener_for(cable)();
      };
    };
    env.sleep = [this](int ms) { cable->on_sleep(ms); };
    env.clock = ticking(now, 0);
    env.service_stop = [this](std::uint64_t) { return cable->done(); };
    return run(args, env);
  }
};

TEST(RtcCommand, FreshCableUploadsTheStampedProgramAndServesIt) {
  RtcRun r;
  const std::string path = spill_program("kartex_rtc_fresh.gba", 200);
  const Bytes image = stamped(program_bytes(200), 5001);
  r.c.open().handshake();
  r.c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(200)).write(image).sleep(100);
  r.c.query(0xFFFF0021, {0});
  r.c.reg_read(0, 3).read(words({SVC_PRINT})).read(words({1})).read(words({0x0A216968}));  // "hi!\n"
  EXPECT_EQ(r({"rtc", path}, 5000), 0);
  EXPECT_TRUE(r.c.done()) << r.c.left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + date_line(5001) + "hi!\n");
  EXPECT_EQ(r.err.str(), "kartex: serving the program until Ctrl-C; its files live in the current directory\n");
}

TEST(RtcCommand, MarkedCableStartsTheProgramThroughTheAgentAndClearsTheMarker) {
  RtcRun r;
  const std::string path = spill_program("kartex_rtc_marked.gba", 201);
  Bytes image = stamped(program_bytes(201), 7001);
  image.resize(204, 0);
  r.c.open().reg_read(1, 0x12345678);
  r.c.reg_read(3, 0).reg_read(4, 1).reg_read(5, 0x400000).reg_read(6, 0);
  // The marker goes first: the agent is gone once the program starts.
  r.c.reg_write(1, 0);
  r.c.request(0xFFFF0002, 201, 0, 0).write(image).sleep(100);
  r.c.query(0xFFFF0021, {0});
  r.c.reg_read(0, 7).sleep(100);
  EXPECT_EQ(r({"rtc", path}, 7000), 0);
  EXPECT_TRUE(r.c.done()) << r.c.left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + date_line(7001));
}

TEST(RtcCommand, RefusedProgramFilesNeverReachTheCable) {
  struct Case {
    std::string file;
    std::string out, err;
  };
  const std::string big = spill_program("kartex_rtc_big.gba", 262141);
  const std::string empty = spill_program("kartex_rtc_empty.gba", 0);
  const std::string missing = ::testing::TempDir() + "kartex_rtc_missing.gba";
  const Case cases[] = {
      {big, BANNER,
       "kartex: program file " + big + " is longer than 262140 bytes, the most one upload carries\n"},
      {empty, BANNER, "kartex: program file " + empty + " is empty: there is no program to start\n"},
      {missing, BANNER + "Can't open " + missing + " file.\n",
       "kartex: cannot read " + missing + ": No such file or directory\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.file);
    RtcRun r;
    EXPECT_EQ(r({"rtc", tc.file}, 0), 255);
    EXPECT_EQ(r.opened, 0);
    EXPECT_EQ(r.out.str().rfind(tc.out, 0), 0u) << r.out.str();
    EXPECT_EQ(r.err.str(), tc.err);
  }
}

}  // namespace
}  // namespace kartex::test
