#include "sim/state/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/digest.h"
#include "common/failure.h"
#include "sim/input_file.h"

namespace kartex {

namespace {

constexpr char STATE_MAGIC[8] = {'K', 'X', 'S', 'T', 'A', 'T', '2', '\n'};
// Parts saved before they carried a checksum.
constexpr char OLD_STATE_MAGIC[8] = {'K', 'X', 'S', 'T', 'A', 'T', 'E', '\n'};
const char* const SET_FILE = "state.set";
const char* const SET_HEADING = "kartex simulator state set 1\n";
constexpr std::uint64_t MAX_SET_FILE_BYTES = 64 * 1024;
// Larger than any part can be (the largest is a 128 MiB flash ROM with its
// save chip): a bigger file is not read into memory at all.
constexpr std::uintmax_t MAX_STATE_FILE_BYTES = 192u * 1024 * 1024;

std::string part_path(const std::string& dir, const std::string& part) {
  return (std::filesystem::path(dir) / (part + ".state")).string();
}

}  // namespace

void StateWriter::u16(std::uint16_t v) {
  u8(static_cast<std::uint8_t>(v));
  u8(static_cast<std::uint8_t>(v >> 8));
}

void StateWriter::u32(std::uint32_t v) {
  u16(static_cast<std::uint16_t>(v));
  u16(static_cast<std::uint16_t>(v >> 16));
}

void StateWriter::u64(std::uint64_t v) {
  u32(static_cast<std::uint32_t>(v));
  u32(static_cast<std::uint32_t>(v >> 32));
}

void StateWriter::str(const std::string& s) {
  blob({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

void StateWriter::blob(std::span<const std::uint8_t> data) {
  u64(data.size());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void StateReader::corrupt(const std::string& why) const {
  // `why` may quote names taken from the damaged file: keep the line one
  // short line of printable text whatever the file holds.
  constexpr std::size_t MAX_WHY = 160;
  std::string text;
  for (unsigned char c : why) {
    if (text.size() >= MAX_WHY) {
      text += "...";
      break;
    }
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      text += esc;
    }
  }
  fail("simulator state " + what_ + " is unusable: " + text);
}

const std::uint8_t* StateReader::take(std::size_t n) {
  if (bytes_.size() - pos_ < n) corrupt("it ends early");
  const std::uint8_t* p = bytes_.data() + pos_;
  pos_ += n;
  return p;
}

std::uint8_t StateReader::u8() { return *take(1); }

std::uint16_t StateReader::u16() {
  const std::uint8_t* p = take(2);
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t StateReader::u32() {
  std::uint32_t lo = u16();
  return lo | static_cast<std::uint32_t>(u16()) << 16;
}

std::uint64_t StateReader::u64() {
  std::uint64_t lo = u32();
  return lo | static_cast<std::uint64_t>(u32()) << 32;
}

std::string StateReader::str() {
  std::vector<std::uint8_t> b = blob();
  return {b.begin(), b.end()};
}

std::vector<std::uint8_t> StateReader::blob() {
  std::uint64_t n = u64();
  if (n > bytes_.size() - pos_) corrupt("a field is longer than the file");
  const std::uint8_t* p = take(static_cast<std::size_t>(n));
  return {p, p + n};
}

void StateReader::blob_into(std::span<std::uint8_t> out) {
  std::uint64_t n = u64();
  if (n != out.size())
    corrupt("a memory block holds " + std::to_string(n) + " bytes instead of " +
            std::to_string(out.size()));
  std::memcpy(out.data(), take(out.size()), out.size());
}

namespace {

StateSaveFault& save_fault() {
  static StateSaveFault fault;
  return fault;
}

// The error number a step fails with: the test seam's, or 0.
int injected(const std::string& step) { return save_fault() ? save_fault()(step) : 0; }

[[noreturn]] void save_failed(const std::string& dir, const std::string& what, int err) {
  fail("simulator state not saved in " + dir + ": " + what + ": " + std::strerror(err) +
       "; the folder keeps the state from before this run");
}

std::string set_path(const std::string& dir) { return (std::filesystem::path(dir) / SET_FILE).string(); }

// Writes all of `bytes`, syncs and closes `fd`; the first error number, or 0.
int write_synced(int fd, std::span<const std::uint8_t> bytes, const std::string& write_step,
                 const std::string& sync_step) {
  int err = injected(write_step);
  for (std::size_t done = 0; err == 0 && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) err = n < 0 ? errno : EIO;
    else done += static_cast<std::size_t>(n);
  }
  if (err == 0) err = injected(sync_step);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

// A new file beside the kept ones, named `stem`.XXXXXX; -1 with errno set.
int create_temp(const std::string& dir, const std::string& stem, std::string& path) {
  path = (std::filesystem::path(dir) / (stem + ".XXXXXX")).string();
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::fchmod(fd, 0644);
  return fd;
}

// The renames in a folder last only once the folder itself is synced.
int sync_folder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

std::string hex8(std::uint32_t v) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

// DIR/state.set: a heading, one "PART TEMP" line per part, and the CRC-32
// of the lines before it.
std::string set_text(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text = SET_HEADING;
  for (const auto& [part, temp] : entries) text += part + " " + temp + "\n";
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return text + "crc " + hex8(crc32_of({p, text.size()})) + "\n";
}

std::vector<std::pair<std::string, std::string>> parse_set(const std::string& path, const std::string& dir) {
  InputFile in(path, "simulator state " + path);
  if (in.size() > MAX_SET_FILE_BYTES)
    fail("simulator state " + path + " is unusable: it is larger than any set of parts");
  const std::vector<std::uint8_t> bytes = in.read_all();
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t crc_at = text.rfind("crc ");
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  auto unusable = [&](const std::string& why) -> std::vector<std::pair<std::string, std::string>> {
    fail("simulator state " + path + " is unusable: " + why + "; delete the folder " + dir + " to start afresh");
  };
  if (text.rfind(SET_HEADING, 0) != 0 || crc_at == std::string::npos ||
      text.substr(crc_at) != "crc " + hex8(crc32_of({p, crc_at})) + "\n")
    return unusable("it is damaged (its checksum does not match)");
  std::vector<std::pair<std::string, std::string>> entries;
  std::size_t at = std::strlen(SET_HEADING);
  while (at < crc_at) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const std::size_t space = line.find(' ');
    const std::string part = line.substr(0, space), temp = space == std::string::npos ? "" : line.substr(space + 1);
    // Names of our own making only: never a path out of the folder.
    if (part.empty() || temp.rfind(part + ".state.", 0) != 0 || temp.find('/') != std::string::npos)
      return unusable("it names a file that is not one of its parts");
    entries.emplace_back(part, temp);
    at = end + 1;
  }
  return entries;
}

// Renames each part of a set that counts over the kept one; a part already
// renamed is skipped, so that this finishes an interrupted set too.
void place_set(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& entries) {
  for (const auto& [part, temp] : entries) {
    const std::string from = (std::filesystem::path(dir) / temp).string();
    if (::access(from.c_str(), F_OK) != 0) continue;
    int err = injected("place " + part);
    if (err == 0 && ::rename(from.c_str(), part_path(dir, part).c_str()) != 0) err = errno;
    if (err)
      fail("simulator state in " + dir + " is not complete: putting " + part + " in place: " + std::strerror(err) +
           "; the next run finishes it");
  }
  int err = sync_folder(dir);
  if (err == 0 && ::unlink(set_path(dir).c_str()) != 0 && errno != ENOENT) err = errno;
  if (err == 0) err = sync_folder(dir);
  if (err) fail("simulator state in " + dir + " is not complete: " + std::strerror(err) + "; the next run finishes it");
}

// A name our saves give their temporary files: STEM.XXXXXX.
bool temp_name(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot != 7) return false;
  const std::string stem = name.substr(0, dot);
  return stem == SET_FILE || (stem.size() > 6 && stem.compare(stem.size() - 6, 6, ".state") == 0);
}

}  // namespace

void set_state_save_fault(StateSaveFault fault) { save_fault() = std::move(fault); }

StateSave::~StateSave() {
  if (committed_) return;
  for (const Written& w : written_) ::unlink(w.temp.c_str());
}

void StateSave::add(const std::string& part, std::uint32_t version, const StateWriter& payload) {
  StateWriter file;
  for (char c : STATE_MAGIC) file.u8(static_cast<std::uint8_t>(c));
  file.str(part);
  file.u32(version);
  file.blob(payload.bytes());
  file.u32(crc32_of(file.bytes()));
  std::string temp;
  const int fd = create_temp(dir_, part + ".state", temp);
  if (fd < 0) save_failed(dir_, "creating a file for " + part, errno);
  written_.push_back({part, temp});
  const int err = write_synced(fd, file.bytes(), "write " + part, "sync " + part);
  if (err) save_failed(dir_, "writing " + temp, err);
}

void StateSave::commit() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const Written& w : written_)
    entries.emplace_back(w.part, std::filesystem::path(w.temp).filename().string());
  const std::string text = set_text(entries);
  std::string temp;
  const int fd = create_temp(dir_, SET_FILE, temp);
  if (fd < 0) save_failed(dir_, "creating the list of parts", errno);
  int err = write_synced(fd, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, "set", "sync set");
  if (err == 0) err = injected("commit");
  if (err == 0 && ::rename(temp.c_str(), set_path(dir_).c_str()) != 0) err = errno;
  if (err) {
    ::unlink(temp.c_str());
    save_failed(dir_, "writing the list of parts", err);
  }
  // From here the new set counts: a failure below is finished by the next
  // run, so the temporary files stay.
  committed_ = true;
  place_set(dir_, entries);
}

void save_state_part(const std::string& dir, const std::string& part, std::uint32_t version,
                     const StateWriter& payload) {
  StateSave save(dir);
  save.add(part, version, payload);
  save.commit();
}

void recover_state_set(const std::string& dir) {
  const std::string set = set_path(dir);
  if (::access(set.c_str(), F_OK) == 0) place_set(dir, parse_set(set, dir));
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (temp_name(name)) std::filesystem::remove(entry.path(), ec);
  }
}

bool state_part_exists(const std::string& dir, const std::string& part) {
  std::error_code ec;
  return std::filesystem::exists(part_path(dir, part), ec);
}

StateReader load_state_part(const std::string& dir, const std::string& part,
                            std::uint32_t version) {
  const std::string path = part_path(dir, part);
  InputFile in(path, "simulator state " + path);
  if (in.size() > MAX_STATE_FILE_BYTES)
    fail("simulator state " + path + " is unusable: " + std::to_string(in.size()) +
         " bytes is more than any part holds");
  std::vector<std::uint8_t> bytes = in.read_all();
  if (bytes.size() >= sizeof OLD_STATE_MAGIC && std::memcmp(bytes.data(), OLD_STATE_MAGIC, sizeof OLD_STATE_MAGIC) == 0)
    fail("simulator state " + path + " was kept by an older build, whose state this one does not read; delete the folder " +
         dir + " to start afresh");
  // The checksum covers the whole file but its last four bytes, which hold it.
  const std::size_t whole = bytes.size();
  const std::uint32_t expected = whole >= 4 ? crc32_of(std::span(bytes).first(whole - 4)) : 0;
  StateReader file(std::move(bytes), path);
  if (whole == 0) file.corrupt("it is empty");
  for (char c : STATE_MAGIC)
    if (file.u8() != static_cast<std::uint8_t>(c)) file.corrupt("not a simulator state file");
  const std::string name = file.str();
  const std::uint32_t found = file.u32();
  std::vector<std::uint8_t> payload = file.blob();
  const std::uint32_t crc = file.u32();
  if (!file.done()) file.corrupt("trailing bytes after the payload");
  if (crc != expected)
    file.corrupt("it is damaged (its checksum does not match)");
  if (name != part) file.corrupt("it holds another part than " + part);
  if (found != version)
    file.corrupt("format version " + std::to_string(found) + ", this build reads version " +
                 std::to_string(version));
  return StateReader(std::move(payload), path);
}

}  // namespace kartex
