#pragma once
// The host's view of the request table in contract/wire.h: a request code
// the host can name only if the agent dispatches it, and what each of its
// argument words carries.

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "contract/wire.h"

namespace kartex::wire {

// What an argument word of a request carries.
enum class Arg {
  NONE,             // sent as 0
  ROM_OFFSET,       // from the start of the ROM
  ROM_ADDRESS,      // ROM_BASE + ROM offset
  SAVE_OFFSET,      // from the start of the save, whatever window reads it
  ADDRESS,          // any console address
  BYTES,            // a byte count
  BYTES_AND_FLAG,   // a byte count, UPDATE_REWRITE or STREAM_ERASE in the top bit
  BYTES_AND_AHEAD,  // a byte count, the blocks to sum after the range from SAVE_AHEAD_SHIFT up
  CHECK_WORD,       // CRC-32 of the data, offset and count
  STEP_AND_LENGTH,  // search step << 16 | pattern length
  BANK,             // a 32 KiB SRAM bank
  PAGE,             // a video page, 0 or 1
  DISPLAY_CONTROL,  // the display control value to set
  CLOCK_STATUS,     // the clock's status register
  CLOCK_DATE,       // year, month, day, day of week: BCD bytes from the low end
  CLOCK_TIME,       // hour, minute, second: BCD bytes from the low end
};

struct RequestRow {
  std::uint32_t code;
  const char* name;
  Arg a1, a2, a3;
  const char* streamed;  // what the host sends after the request
  const char* reply;
};

inline constexpr RequestRow REQUESTS[] = {
#define KARTEX_REQUEST_ROW(code, handler, a1, a2, a3, streamed, reply) \
  {code, #code, Arg::a1, Arg::a2, Arg::a3, streamed, reply},
    KARTEX_REQUESTS(KARTEX_REQUEST_ROW)
#undef KARTEX_REQUEST_ROW
};

// An index rather than a pointer: the sanitizers' null checks make a
// pointer comparison unfit for constant evaluation.
constexpr int find_request(std::uint32_t code) {
  for (std::size_t i = 0; i < std::size(REQUESTS); ++i)
    if (REQUESTS[i].code == code) return static_cast<int>(i);
  return -1;
}

// The agent dispatches by the low half of the code into a table indexed by
// it: every code must carry the common high half, and no two may share a slot.
constexpr bool request_codes_sound() {
  for (std::size_t i = 0; i < std::size(REQUESTS); ++i) {
    if ((REQUESTS[i].code & 0xFFFF0000u) != REQ_CODE_HIGH) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (REQUESTS[j].code == REQUESTS[i].code) return false;
  }
  return true;
}
static_assert(request_codes_sound(), "request codes must be distinct and of the form 0xFFFF00nn");

// The reply words a request may end with: two that shared a value would
// read the same to the host.
constexpr bool reply_words_distinct() {
  constexpr std::uint32_t words[] = {UPDATE_KEPT,        UPDATE_PROGRAMMED, UPDATE_ERASED, UPDATE_REFUSED,
                                     WRITE_CHECK_FAILED, SAVE_WRITE_FAILED, CLOCK_ABSENT};
  for (std::size_t i = 0; i < std::size(words); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (words[i] == words[j]) return false;
  return true;
}
static_assert(reply_words_distinct(), "two reply words share a value");

constexpr Arg request_arg(std::uint32_t code, int which) {
  const RequestRow& row = REQUESTS[find_request(code)];
  return which == 1 ? row.a1 : which == 2 ? row.a2 : row.a3;
}

// A request code the agent serves. Built from a constant, it compiles only
// for a code listed in the table; `unlisted` makes any code, for tests of
// what the agent does with one it does not serve.
class Request {
 public:
  consteval Request(std::uint32_t code) : code_(code) {  // NOLINT: implicit by design
    if (find_request(code) < 0) throw "not a request the agent dispatches";
  }
  static constexpr Request unlisted(std::uint32_t code) {
    Request r;
    r.code_ = code;
    return r;
  }
  constexpr std::uint32_t code() const { return code_; }
  friend constexpr bool operator==(Request, Request) = default;

 private:
  constexpr Request() = default;
  std::uint32_t code_ = 0;
};

}  // namespace kartex::wire
