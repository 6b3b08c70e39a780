/* A console program that tries to leave the folder the tool serves it: it
 * asks for files outside it, the tool's own descriptors, a FIFO, links out
 * of the folder, more handles than the tool gives, positions past 4 GiB,
 * and prints terminal commands. Then it does what a well-behaved program
 * does (subfolders, create, append, seek, read back). Every answer is
 * printed as "what: answer" for the test to compare. */
#include <stdint.h>

#include "examples/hostio/lib/hostio.h"
#include "examples/hostio/text.h"

#define READ OPEN_READ_ONLY
#define WRITE (OPEN_WRITE_ONLY | OPEN_CREATE | OPEN_TRUNCATE)
#define APPEND (OPEN_WRITE_ONLY | OPEN_APPEND)
#define ESCAPED "escaped\n"

static line_t line;
static char data[64];

static void show(const char *what, int32_t value)
{
  line_clear(&line);
  line_add(&line, what);
  line_add(&line, ": ");
  line_int(&line, value);
  line_add(&line, "\n");
  hio_print(line.text);
}

/* An open that must fail; if it does not, the program does its worst. */
static void escape(const char *path, uint32_t mode)
{
  int32_t handle = hio_open(path, mode);
  show(path, handle);
  if (handle < 0) return;
  if (mode & (OPEN_WRITE_ONLY | OPEN_APPEND)) {
    hio_write(handle, ESCAPED, sizeof ESCAPED - 1);
  } else {
    int32_t got = hio_read(handle, data, sizeof data - 1);
    show("  bytes read", got);
  }
  hio_close(handle);
}

static void try_escapes(void)
{
  escape("/etc/passwd", READ);
  escape("/proc/self/environ", READ);
  escape("../outside.txt", WRITE);
  escape("sub/../../outside.txt", WRITE);
  escape("/tmp/kartex_hostile_absolute.txt", WRITE);
  escape("link_out", APPEND);
  escape("link_dir_out/outside.txt", WRITE);
  escape("link_proc_stderr", APPEND);
  escape("link_null", APPEND);
  escape("/proc/self/fd/2", APPEND);
  escape("/proc/self/fd/3", READ);
  escape("/dev/stdin", READ);
  escape("fifo", READ);
  escape("fifo", APPEND);
  escape("sub", READ);
  escape(".", READ);
  /* The tool's own descriptors, as handles the program never got. */
  for (int32_t fd = 0; fd < 6; fd++) {
    static line_t what;
    line_clear(&what);
    line_add(&what, "read of handle ");
    line_int(&what, fd);
    show(what.text, hio_read(fd, data, 4));
  }
  hio_write(2, ESCAPED, sizeof ESCAPED - 1);
  hio_write(1, ESCAPED, sizeof ESCAPED - 1);
  hio_print("terminal: \x1b]0;owned\x07\x1b[2J\r\xc2\x9b" "31m caf\xc3\xa9 \x7f\x80 tab\tend\n");
}

static void too_many_handles(void)
{
  static int32_t handles[40];
  int32_t opened = 0;
  for (int i = 0; i < 40; i++) {
    handles[i] = hio_open("sub/data.txt", READ);
    if (handles[i] >= 0) opened++;
  }
  show("handles of 40 opens", opened);
  for (int i = 0; i < 40; i++) hio_close(handles[i]);
  int32_t again = hio_open("sub/data.txt", READ);
  show("open after closing them", again >= 0);
  hio_close(again);
}

static void far_positions(void)
{
  int32_t big = hio_open("big.bin", OPEN_READ_WRITE | OPEN_CREATE | OPEN_TRUNCATE);
  show("seek to 2 GiB - 16", hio_seek(big, 0x7FFFFFF0, ORIGIN_START));
  hio_write(big, "A", 1);
  /* Positions from 2 GiB on read as negative numbers here. */
  show("seek on to 4 GiB - 16", hio_seek(big, 0x7FFFFFFF, ORIGIN_CURRENT));
  show("seek past 4 GiB", hio_seek(big, 0x20, ORIGIN_CURRENT));
  show("seek before the start", hio_seek(big, -0x7FFFFFFF, ORIGIN_START));
  hio_write(big, "B", 1);
  hio_write(big, "crossing 4 GiB", 14);
  show("size, read as a number", hio_seek(big, 0, ORIGIN_END));
  show("seek to 8", hio_seek(big, 8, ORIGIN_START));
  hio_close(big);
}

static void read_back(const char *path, int32_t from)
{
  int32_t handle = hio_open(path, READ);
  show("seek for reading", hio_seek(handle, from, ORIGIN_START));
  int32_t got = hio_read(handle, data, sizeof data - 1);
  show("bytes read back", got);
  hio_close(handle);
  data[got > 0 ? got : 0] = 0;
  line_clear(&line);
  line_add(&line, "read back: ");
  line_add(&line, data);
  hio_print(line.text);
}

static void what_still_works(void)
{
  int32_t created = hio_open("sub/deep/new.txt", WRITE);
  show("create in a subfolder", created >= 0);
  hio_write(created, "created\n", 8);
  hio_close(created);
  int32_t appended = hio_open("sub/deep/new.txt", APPEND);
  hio_seek(appended, 0, ORIGIN_START);
  hio_write(appended, "appended\n", 9);
  hio_close(appended);
  read_back("sub/deep/new.txt", 0);
  read_back("./sub/data.txt", 7);
}

int main(void)
{
  hio_init();
  hio_answer_variant(0);
  try_escapes();
  too_many_handles();
  far_positions();
  what_still_works();
  hio_print("done\n");
  return 0;
}
