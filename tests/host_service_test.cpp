// The host file service on the wire: polling, every request's words and
// answer, and requests that announce more than the tool's buffers hold.

#include <gtest/gtest.h>

#include <sstream>

#include "common/output.h"
#include "host/host_file_service.h"
#include "host/hostio_protocol.h"
#include "common/failure.h"
#include "tests/support/memory_files.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t WORD_WAITING = 0x3;  // link up, bit 2 clear: the console armed
constexpr std::uint32_t NOTHING_WAITING = 0x7;
constexpr std::uint32_t FAILED = 0xFFFFFFFF;

// Bytes of text as whole words, zero-filled.
Bytes text_words(const std::string& text, std::size_t words) {
  Bytes b(text.begin(), text.end());
  b.resize(words * 4, 0);
  return b;
}

struct Service {
  ScriptedLink s;
  ScriptedCable& c = *s.cable;
  std::ostringstream out, err;
  Output con{out, err};
  MemoryFiles files;
  ServiceOptions options;
  std::vector<std::uint64_t> stop_asked;

  Service() {
    c.open().reg_read(1, 0x12345678);  // a marked cable: link_start polls nothing else
    // Ends the service once the script is spent.
    options.stop = [this](std::uint64_t idle) {
      stop_asked.push_back(idle);
      return c.done();
    };
  }

  // A poll that finds a word, then the request code and its argument words,
  // each read on its own.
  ScriptedCable& request(std::uint32_t code, std::initializer_list<std::uint32_t> args = {}) {
    c.reg_read(0, WORD_WAITING).read(words({code}));
    for (std::uint32_t a : args) c.read(words({a}));
    return c;
  }
  // The words of a counted text: n, then the text in CMD_READ pieces.
  ScriptedCable& counted(std::uint32_t n, const Bytes& data) {
    c.read(words({n}));
    if (n == 0) return c.read({});
    for (std::size_t at = 0; at < data.size(); at += 0xFFFF * 4)
      c.read(Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + 0xFFFF * 4))));
    return c;
  }

  void run() {
    s.link.link_start();
    host_file_service(s.link, files, con, options);
    EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
  }
};

TEST(HostService, PrintShowsTheTextUpToItsNulAndStaysInStep) {
  struct Case {
    const char* name;
    std::uint32_t words;
    Bytes data;
    std::string shown;
    bool warned;
  };
  Bytes long_text(70 * 4, 'x');
  Bytes huge_text(70000 * 4, 'y');
  const Case cases[] = {
      {"one word", 1, text_words("hi\n", 1), "hi\n", false},
      {"stops at the first NUL", 2, text_words(std::string("ab\0cd", 5), 2), "ab", false},
      {"no NUL: the words sent", 2, Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, "abcdefgh", false},
      {"64 words without a NUL", 64, Bytes(256, 'z'), std::string(256, 'z'), false},
      {"no words", 0, {}, "", false},
      {"70 words: the first 256 bytes", 70, long_text, std::string(256, 'x'), true},
      {"70000 words in two transfers", 70000, huge_text, std::string(256, 'y'), true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service svc;
    svc.request(SVC_PRINT);
    svc.counted(tc.words, tc.data);
    // The next request is read where it starts.
    svc.request(SVC_PRINT);
    svc.counted(1, text_words("|", 1));
    svc.run();
    EXPECT_EQ(svc.out.str(), tc.shown + "|");
    EXPECT_EQ(svc.err.str().find("kartex: warning: print request of") == 0, tc.warned) << svc.err.str();
  }
}

// Printed text reaches the user's terminal with its control bytes shown,
// and a character cut between two print requests stays whole; one that the
// program never finished is shown when the service ends.
TEST(HostService, PrintedTextCannotCommandTheTerminal) {
  struct Case {
    const char* name;
    std::vector<std::string> prints;
    std::string shown;
  };
  const Case cases[] = {
      {"escape sequences", {"\x1b[2J\x1b]0;t\x07ok\n"}, "\\x1B[2J\\x1B]0;t\\x07ok\n"},
      {"a character over two prints", {"caf\xc3", "\xa9\n"}, "caf\xc3\xa9\n"},
      {"CSI over two prints", {"\xc2", "\x9b" "2J"}, "\\xC2\\x9B2J"},
      {"text that ends inside a character", {"end \xe2\x82"}, "end \\xE2\\x82"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service sv;
    for (const std::string& text : tc.prints) {
      const auto n = static_cast<std::uint32_t>(text.size() / 4 + 1);
      sv.request(SVC_PRINT);
      sv.counted(n, text_words(text, n));
    }
    sv.run();
    EXPECT_EQ(sv.out.str(), tc.shown);
    EXPECT_EQ(sv.err.str(), "");
  }
}

TEST(HostService, PollsWhileIdleAndDropsWordsThatAreNoRequest) {
  Service svc;
  ScriptedCable& c = svc.c;
  c.reg_read(0, NOTHING_WAITING).sleep(100).reg_read(0, NOTHING_WAITING).sleep(100);
  svc.request(SVC_IDLE);
  svc.request(0x12345678);
  svc.request(SVC_PRINT);
  svc.counted(1, text_words("ok", 1));
  c.reg_read(0, NOTHING_WAITING).sleep(100);
  svc.run();
  EXPECT_EQ(svc.out.str(), "ok");
  EXPECT_TRUE(svc.files.calls.empty());
  // Idle polls count up and start again after a request.
  const std::vector<std::uint64_t> asked = {0, 1, 2, 0, 0, 0, 1};
  EXPECT_EQ(svc.stop_asked, asked);
}

TEST(HostService, StopEndsAfterThatManyIdlePollsAndClosesTheFiles) {
  Service svc;
  svc.options.stop = [&](std::uint64_t idle) { return idle == 3; };
  svc.files.files["a"] = {};
  svc.request(SVC_OPEN);
  svc.counted(1, text_words("a", 1)).read(words({OPEN_READ_ONLY})).write(words({3}));
  for (int i = 0; i < 3; ++i) svc.c.reg_read(0, NOTHING_WAITING).sleep(100);
  svc.run();
  EXPECT_TRUE(svc.files.closed_all);
  EXPECT_EQ(svc.files.open_count(), 0u);
}

TEST(HostService, ALinkFailureEndsTheServiceWithItsFilesClosed) {
  Service svc;
  svc.files.files["a"] = {};
  svc.request(SVC_OPEN);
  svc.counted(1, text_words("a", 1)).read(words({OPEN_READ_ONLY})).write(words({3}));
  svc.c.reg_read(0, WORD_WAITING).failing(PipeResult::failed("device gone"));
  svc.s.link.link_start();
  EXPECT_THROW(host_file_service(svc.s.link, svc.files, svc.con, svc.options), Failure);
  EXPECT_TRUE(svc.files.closed_all);
}

TEST(HostService, OpenTakesPathAndModeAndAnswersTheHandle) {
  struct Case {
    const char* name;
    std::uint32_t words;
    Bytes path;
    std::uint32_t mode;
    char separator;
    std::uint32_t answer;
    std::vector<std::string> calls;
    bool warned;
  };
  const Case cases[] = {
      {"existing file", 3, text_words("dir/log.txt", 3), OPEN_READ_ONLY, '/', 3,
       {"open dir/log.txt 1"}, false},
      {"separator of the host", 3, text_words("dir/log.txt", 3), 0x602, '\\', 3,
       {"open dir\\log.txt 1538"}, false},
      {"missing file, no create", 2, text_words("nothing", 2), 0, '/', FAILED, {"open nothing 0"}, false},
      {"path without a NUL", 2, Bytes(8, 'p'), 0x602, '/', FAILED, {}, true},
      {"no path words", 0, {}, 0x602, '/', FAILED, {}, true},
      {"65 words", 65, text_words("dir/log.txt", 65), 0x602, '/', FAILED, {}, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service svc;
    svc.options.separator = tc.separator;
    svc.files.files["dir/log.txt"] = {};
    svc.request(SVC_OPEN);
    svc.counted(tc.words, tc.path).read(words({tc.mode})).write(words({tc.answer}));
    svc.run();
    EXPECT_EQ(svc.files.calls, tc.calls);
    EXPECT_EQ(svc.err.str().find("kartex: warning: open request") == 0, tc.warned) << svc.err.str();
  }
}

TEST(HostService, ReadAnswersTheCountThenWholeWords) {
  struct Case {
    const char* name;
    std::size_t file_size;
    std::uint32_t handle, count;
    std::uint32_t answer;
    std::size_t data_words;
  };
  const Case cases[] = {
      {"5 bytes: two words, zero-filled", 5, 3, 5, 5, 2},
      {"fewer bytes than asked", 5, 3, 16, 5, 2},
      {"end of file", 0, 3, 8, FAILED + 1, 0},
      {"a handle the service never opened", 5, 1, 4, FAILED, 0},
      {"the largest answer", 300000, 3, 262140, 262140, 65535},
      {"beyond one answer", 300000, 3, 262141, FAILED, 0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service svc;
    const Bytes content = pattern(tc.file_size, 9);
    svc.files.files["f"] = content;
    svc.request(SVC_OPEN);
    svc.counted(1, text_words("f", 1)).read(words({OPEN_READ_ONLY})).write(words({3}));
    // An earlier read leaves data in the buffer; padding must not show it.
    svc.request(SVC_READ, {3, 8});
    const std::size_t first = std::min<std::size_t>(8, tc.file_size);
    Bytes earlier(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(first));
    earlier.resize((first + 3) / 4 * 4, 0);
    svc.c.write(words({static_cast<std::uint32_t>(first)})).write(earlier);
    svc.request(SVC_SEEK, {3, 0, ORIGIN_START}).write(words({0}));

    svc.request(SVC_READ, {tc.handle, tc.count}).write(words({tc.answer}));
    Bytes data;
    if (tc.answer != FAILED) {
      data.assign(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(tc.answer));
      data.resize(tc.data_words * 4, 0);
    }
    svc.c.write(data);
    svc.run();
    const bool refused = tc.count > SVC_MAX_READ;
    EXPECT_EQ(svc.err.str().find("kartex: warning: read request of") == 0, refused) << svc.err.str();
    EXPECT_EQ(svc.files.calls.back().rfind(refused ? "seek" : "read", 0), 0u) << svc.files.calls.back();
  }
}

TEST(HostService, WriteReadsEveryAnnouncedWordAndWritesTheCount) {
  struct Case {
    const char* name;
    std::uint32_t count;
    std::vector<std::size_t> pieces;  // words per CMD_READ
  };
  const Case cases[] = {
      {"nothing", 0, {0}},
      {"5 bytes in two words", 5, {2}},
      {"one whole transfer", 262140, {65535}},
      {"beyond one transfer", 300001, {65535, 9466}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service svc;
    const Bytes data = pattern(tc.count, 4);
    svc.request(SVC_OPEN);
    svc.counted(1, text_words("out", 1)).read(words({0x602})).write(words({3}));
    svc.request(SVC_WRITE, {3, tc.count});
    Bytes padded = data;
    padded.resize((tc.count + 3) / 4 * 4, 0xEE);
    std::size_t at = 0;
    for (std::size_t n : tc.pieces) {
      svc.c.read(Bytes(padded.begin() + static_cast<std::ptrdiff_t>(at),
                       padded.begin() + static_cast<std::ptrdiff_t>(at + n * 4)));
      at += n * 4;
    }
    // In step: the next request follows.
    svc.request(SVC_CLOSE, {3});
    svc.run();
    EXPECT_EQ(svc.files.files["out"], data);
  }
}

TEST(HostService, WriteToABadHandleStillTakesItsWords) {
  Service svc;
  svc.request(SVC_WRITE, {2, 6}).read(Bytes(8, 'w'));
  svc.request(SVC_PRINT);
  svc.counted(1, text_words("ok", 1));
  svc.run();
  EXPECT_EQ(svc.out.str(), "ok");
  EXPECT_TRUE(svc.files.files.empty());
}

TEST(HostService, AByteCountNear4GiBIsNotTakenAsAFewWords) {
  // (count + 3) / 4 in 32 bits would be 0 words and lose step at once.
  Service svc;
  svc.request(SVC_WRITE, {7, 0xFFFFFFFD}).read(Bytes(0xFFFF * 4, 1));
  // The script ends here: the stop between the pieces ends the service.
  svc.run();
  EXPECT_EQ(svc.stop_asked.back(), 0u);
}

TEST(HostService, SeekAnswersThePositionOrMinusOne) {
  struct Case {
    const char* name;
    std::uint32_t handle, offset, origin, answer;
  };
  const Case cases[] = {
      {"from the start", 3, 4, ORIGIN_START, 4},
      {"from the end", 3, static_cast<std::uint32_t>(-3), ORIGIN_END, 7},
      {"from the current position", 3, 2, ORIGIN_CURRENT, 8},
      {"origin 3", 3, 0, 3, FAILED},
      {"before the start", 3, static_cast<std::uint32_t>(-20), ORIGIN_END, FAILED},
      {"a handle the service never opened", 0, 0, ORIGIN_START, FAILED},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Service svc;
    svc.files.files["f"] = pattern(10);
    svc.request(SVC_OPEN);
    svc.counted(1, text_words("f", 1)).read(words({OPEN_READ_ONLY})).write(words({3}));
    svc.request(SVC_SEEK, {3, 6, ORIGIN_START}).write(words({6}));
    svc.request(SVC_SEEK, {tc.handle, tc.offset, tc.origin}).write(words({tc.answer}));
    svc.run();
  }
}

TEST(HostService, CloseTakesItsHandleAndAnswersNothing) {
  Service svc;
  svc.files.files["f"] = pattern(4);
  svc.request(SVC_OPEN);
  svc.counted(1, text_words("f", 1)).read(words({OPEN_READ_ONLY})).write(words({3}));
  svc.request(SVC_CLOSE, {3});
  svc.request(SVC_READ, {3, 4}).write(words({FAILED})).write({});
  svc.run();
  const std::vector<std::string> calls = {"open f 1", "close 3", "read 3 4"};
  EXPECT_EQ(svc.files.calls, calls);
}

}  // namespace
}  // namespace kartex::test
