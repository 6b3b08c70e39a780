// What a transfer with a time limit comes to: the decisions the Windows
// transport takes after its wait, checked on every platform.

#include <gtest/gtest.h>

#include "link/transfer_wait.h"

namespace kartex {
namespace {

TEST(TransferWait, Outcomes) {
  struct Case {
    const char* name;
    WaitEnd wait;
    IoOutcome io;
    const char* system_words;  // what the system says about io.error
    bool ok;
    std::size_t moved;
    std::string error;  // the whole line when !ok
  };
  const Case cases[] = {
      {"completed in time", WaitEnd::Completed, {true, 0, 4096}, "", true, 4096, ""},
      {"short transfer in time: the count goes up for the caller to judge", WaitEnd::Completed,
       {true, 0, 100}, "", true, 100, ""},
      // The cancel came too late: the bytes were moved and must not be lost.
      {"completed while being cancelled", WaitEnd::TimedOut, {true, 0, 4096}, "", true, 4096, ""},
      {"cancelled at the time limit", WaitEnd::TimedOut, {false, WIN_ERROR_OPERATION_ABORTED, 0},
       "aborted", false, 0, "timeout after 5 s"},
      {"cancelled at the time limit after part of it", WaitEnd::TimedOut,
       {false, WIN_ERROR_OPERATION_ABORTED, 512}, "aborted", false, 512, "timeout after 5 s"},
      // Someone else's cancel is no timeout of ours.
      {"aborted without a timeout", WaitEnd::Completed, {false, WIN_ERROR_OPERATION_ABORTED, 0},
       "aborted", false, 0, "aborted (system error 995)"},
      {"device pulled out", WaitEnd::Completed, {false, WIN_ERROR_DEVICE_NOT_CONNECTED, 0},
       "not connected", false, 0,
       "the cable is gone (unplugged?): not connected (system error 1167)"},
      {"device pulled out while the transfer waited", WaitEnd::TimedOut,
       {false, WIN_ERROR_DEVICE_NOT_CONNECTED, 64}, "not connected", false, 64,
       "the cable is gone (unplugged?): not connected (system error 1167)"},
      {"driver lost the device", WaitEnd::Completed, {false, WIN_ERROR_NO_SUCH_DEVICE, 0},
       "no device", false, 0, "the cable is gone (unplugged?): no device (system error 433)"},
      {"any other failure keeps the system's words", WaitEnd::Completed, {false, 87, 0},
       "bad parameter", false, 0, "bad parameter (system error 87)"},
  };
  for (const Case& c : cases) {
    const PipeResult r = transfer_result(c.wait, c.io, 5000, c.system_words);
    EXPECT_EQ(r.ok, c.ok) << c.name;
    EXPECT_EQ(r.moved, c.moved) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
  }
}

TEST(TransferWait, TimeoutWordsFollowTheLimit) {
  EXPECT_EQ(timeout_text(5000), "timeout after 5 s");
  EXPECT_EQ(timeout_text(1500), "timeout after 1.5 s");
  EXPECT_EQ(timeout_text(250), "timeout after 0.25 s");
  const PipeResult r =
      transfer_result(WaitEnd::TimedOut, {false, WIN_ERROR_OPERATION_ABORTED, 0}, 200, "x");
  EXPECT_EQ(r.error, "timeout after 0.2 s");
}

TEST(TransferWait, WaitIsNeverEndless) {
  // 0xFFFFFFFF tells the system to wait for ever: a limit that turned into
  // it would let a silent cable hang the tool.
  struct Case {
    int timeout_ms;
    std::uint32_t want;
  };
  const Case cases[] = {{60000, 60000}, {1, 1}, {0, 1}, {-1, 1}, {0x7FFFFFFF, 0x7FFFFFFFu}};
  for (const Case& c : cases) EXPECT_EQ(wait_limit_ms(c.timeout_ms), c.want) << c.timeout_ms;
}

}  // namespace
}  // namespace kartex
