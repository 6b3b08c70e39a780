// The file-name conversion for the media framework: names of any length
// the file system allows convert whole and terminated, a multi-byte name
// gets as many units as its characters (not its bytes), and a refused or
// short conversion is a failure rather than a truncated name.

#include "vts/wide_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kartex {
namespace {

using Wide = std::vector<char16_t>;

// A single-byte code page: one unit per byte. Like the system call, it
// refuses a buffer too small for the name and its terminator.
int single_byte(const char* name, char16_t* out, int capacity) {
  const int needed = static_cast<int>(std::strlen(name)) + 1;
  if (capacity == 0) return needed;
  if (capacity < needed) return 0;
  for (int i = 0; i < needed; ++i) out[i] = static_cast<unsigned char>(name[i]);
  return needed;
}

// A double-byte code page: a lead byte 0x81..0xFE and the next byte make
// one character, one unit.
int double_byte(const char* name, char16_t* out, int capacity) {
  Wide units;
  for (const char* p = name;; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    if (b >= 0x81 && b <= 0xFE && p[1] != 0) {
      units.push_back(static_cast<char16_t>(0x4E00 + ((b << 8) | static_cast<unsigned char>(p[1])) % 0x5000));
      ++p;
    } else {
      units.push_back(b);
      if (b == 0) break;
    }
  }
  const int needed = static_cast<int>(units.size());
  if (capacity == 0) return needed;
  if (capacity < needed) return 0;
  std::copy(units.begin(), units.end(), out);
  return needed;
}

Wide expected_single(const std::string& name) {
  Wide w(name.begin(), name.end());
  w.push_back(0);
  return w;
}

TEST(WideName, NamesOfAnyLengthConvertWholeAndTerminated) {
  // 255 fits a 256-unit buffer; the rest did not before the buffer was
  // sized from the conversion's own count. 32,767 is the longest path the
  // system takes with its long-path prefix.
  for (const std::size_t length : {1u, 255u, 256u, 300u, 1000u, 32767u}) {
    std::string name(length, 'a');
    name.back() = 'z';  // the last character arrives, not only the length
    const Wide got = to_wide_name<char16_t>(name, single_byte);
    EXPECT_EQ(got, expected_single(name)) << "length " << length;
  }
}

TEST(WideName, MultiByteNameGetsOneUnitPerCharacter) {
  // 300 double-byte characters: 600 bytes, 301 units with the terminator.
  std::string name;
  for (int i = 0; i < 300; ++i) name += "\x93\xFA";
  name += ".avi";
  const Wide got = to_wide_name<char16_t>(name, double_byte);
  ASSERT_EQ(got.size(), 305u);
  EXPECT_EQ(got[0], got[299]);
  EXPECT_NE(got[0], u'\x93');
  EXPECT_EQ(got[300], u'.');
  EXPECT_EQ(got[303], u'i');
  EXPECT_EQ(got[304], 0);
}

TEST(WideName, FailedOrShortConversionsGiveNoName) {
  const struct {
    const char* what;
    int (*convert)(const char*, char16_t*, int);
  } cases[] = {
      {"length refused", [](const char*, char16_t*, int) { return 0; }},
      {"conversion refused", [](const char*, char16_t*, int capacity) { return capacity == 0 ? 8 : 0; }},
      {"more units than asked", [](const char*, char16_t*, int capacity) { return capacity == 0 ? 4 : 9; }},
  };
  for (const auto& c : cases) EXPECT_TRUE(to_wide_name<char16_t>("clip.avi", c.convert).empty()) << c.what;

  // Fewer units than asked: the name ends where the conversion ended.
  const Wide got = to_wide_name<char16_t>("clip.avi", [](const char*, char16_t* out, int capacity) {
    if (capacity == 0) return 12;
    for (int i = 0; i < capacity; ++i) out[i] = u'x';
    out[0] = u'a';
    out[1] = u'b';
    out[2] = 0;
    return 3;
  });
  EXPECT_EQ(got, (Wide{u'a', u'b', 0}));
}

}  // namespace
}  // namespace kartex
