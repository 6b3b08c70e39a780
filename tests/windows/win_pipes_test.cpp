// The Windows transport against named pipes that stand in for the cable's
// driver: the pipe each byte goes to, the bounded wait and its cancel, the
// pipe reset, a far end that goes away, and discovery with no cable.
// Runs under Windows or wine.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/failure.h"
#include "link/cable_paths.h"
#include "link/win_discovery.h"
#include "link/win_pipes.h"
#include "tests/windows/pipe_server.h"

namespace kartex::test {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(WinPipes, EachPipeCarriesItsOwnBytes) {
  PipeServer server;
  ASSERT_TRUE(server.ready());
  auto pipes = open_win_pipes(server.device_path(), 2000);
  ASSERT_NE(pipes, nullptr);

  const Bytes command = {0x01, 0x08, 0x00};
  const Bytes data_out = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const Bytes data_in = {0xA0, 0xA1, 0xA2, 0xA3};
  PipeResult r = pipes->write(Pipe::Command, command);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.moved, command.size());
  r = pipes->write(Pipe::DataOut, data_out);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.moved, data_out.size());
  // Each end holds exactly what was written to it, nothing of the other's.
  EXPECT_EQ(server.take(Pipe::Command, 64), command);
  EXPECT_EQ(server.take(Pipe::DataOut, 64), data_out);

  ASSERT_EQ(server.give(Pipe::DataIn, data_in), data_in.size());
  Bytes got(4);
  r = pipes->read(Pipe::DataIn, got);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.moved, 4u);
  EXPECT_EQ(got, data_in);
}

TEST(WinPipes, SilentReadEndsAtTheLimitAndLeavesThePipeUsable) {
  PipeServer server;
  ASSERT_TRUE(server.ready());
  auto pipes = open_win_pipes(server.device_path(), 60000);
  ASSERT_NE(pipes, nullptr);
  pipes->set_timeout(200);

  Bytes got(4, 0xEE);
  const auto start = Clock::now();
  PipeResult r = pipes->read(Pipe::DataIn, got);
  const long long took = ms_since(start);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "timeout after 0.2 s");
  EXPECT_EQ(r.moved, 0u);
  EXPECT_GE(took, 150);
  EXPECT_LT(took, 3000);

  // The cancelled read took nothing: the next word goes to the next read whole.
  const Bytes word = {0x78, 0x56, 0x34, 0x12};
  ASSERT_EQ(server.give(Pipe::DataIn, word), 4u);
  r = pipes->read(Pipe::DataIn, got);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(got, word);
}

TEST(WinPipes, WriteNobodyTakesEndsAtTheLimit) {
  // A pipe buffer far smaller than the write: the rest waits for a reader
  // that never comes.
  PipeServer server(40, 512);
  ASSERT_TRUE(server.ready());
  auto pipes = open_win_pipes(server.device_path(), 300);
  ASSERT_NE(pipes, nullptr);
  const Bytes block(1 << 20, 0x5A);
  const auto start = Clock::now();
  PipeResult r = pipes->write(Pipe::DataOut, block);
  const long long took = ms_since(start);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "timeout after 0.3 s");
  EXPECT_LT(r.moved, block.size());
  EXPECT_LT(took, 3000);
}

TEST(WinPipes, FarEndGoneFailsAtOnce) {
  PipeServer server;
  ASSERT_TRUE(server.ready());
  auto pipes = open_win_pipes(server.device_path(), 10000);
  ASSERT_NE(pipes, nullptr);
  std::thread pull([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.pull(Pipe::DataIn);
  });
  Bytes got(4);
  const auto start = Clock::now();
  PipeResult r = pipes->read(Pipe::DataIn, got);
  const long long took = ms_since(start);
  pull.join();
  EXPECT_FALSE(r.ok);
  // One line in the system's words with its number, long before the limit.
  EXPECT_NE(r.error.find("(system error "), std::string::npos) << r.error;
  EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
  EXPECT_LT(took, 5000);
}

TEST(WinPipes, ResetReachesThePipeHandle) {
  PipeServer server;
  ASSERT_TRUE(server.ready());
  auto pipes = open_win_pipes(server.device_path(), 2000);
  ASSERT_NE(pipes, nullptr);
  // A named pipe has no PIPE_RESET: the system refuses the control code
  // itself. A closed or wrong handle would say so instead.
  for (Pipe pipe : {Pipe::Command, Pipe::DataOut, Pipe::DataIn}) {
    PipeResult r = pipes->reset(pipe);
    EXPECT_FALSE(r.ok) << pipe_name(pipe);
    EXPECT_EQ(r.error.find("(system error 6)"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("(system error "), std::string::npos) << r.error;
  }
  // The refused control left the pipes as they were.
  const Bytes command = {0x02, 0x01, 0x00};
  EXPECT_TRUE(pipes->write(Pipe::Command, command).ok);
  EXPECT_EQ(server.take(Pipe::Command, 64), command);
}

TEST(WinPipes, OpenFailures) {
  {
    // No device at the path: no cable, and no pipe is tried.
    EXPECT_EQ(open_win_pipes("\\\\.\\pipe\\kartex-test-nothing-here", 1000), nullptr);
  }
  {
    PipeServer server;
    ASSERT_TRUE(server.ready());
    server.remove(Pipe::DataOut);
    try {
      open_win_pipes(server.device_path(), 1000);
      ADD_FAILURE() << "a device without its data-out pipe was taken for the cable";
    } catch (const Failure& f) {
      const std::string line = f.what();
      EXPECT_NE(line.find(pipe_path(server.device_path(), Pipe::DataOut)), std::string::npos)
          << line;
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
  }
}

TEST(WinDiscovery, InterfaceClassAndNoCable) {
  CLSID expected;
  ASSERT_EQ(CLSIDFromString(L"{28B0D529-C559-4697-BC5E-7E18A0DC629B}", &expected), S_OK);
  EXPECT_EQ(std::memcmp(&expected, CABLE_INTERFACE_GUID_BYTES.data(), 16), 0);
  // No driver of the class is installed here: discovery finds nothing and
  // the transport reports no cable, rather than failing some other way.
  EXPECT_EQ(find_cable_path(CABLE_INTERFACE_GUID_BYTES, 0), std::nullopt);
  EXPECT_EQ(open_win_cable(1000), nullptr);
}

}  // namespace
}  // namespace kartex::test
