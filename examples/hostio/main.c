/* Example console program for the host file service. The tool loads it,
 * stamps the host's clock into its header and serves it: it shows the
 * stamp, prints, copies a host file, appends to a log, seeks, and shows the
 * -1 answers of requests that fail. Its files live in the folder "hostio"
 * of the folder the tool serves (its current directory, or --files DIR). */
#include <stdint.h>

#include "examples/hostio/lib/hostio.h"
#include "examples/hostio/text.h"

#define SOURCE_FILE "hostio/source.bin"
#define COPY_FILE "hostio/copy.bin"
#define LOG_FILE "hostio/log.txt"
#define MISSING_FILE "hostio/missing.txt"
#define LOG_LINE "log line\n"

/* The header's title field: the tool writes its clock stamp here. */
extern const uint8_t clock_stamp[CLOCK_STAMP_SIZE];

static uint8_t copy_buffer[4096];
static line_t line;

static void show_stamp(void)
{
  static const char MAGIC[] = CLOCK_STAMP_MAGIC;
  for (int i = 0; i < CLOCK_STAMP_MAGIC_SIZE; i++) {
    if (clock_stamp[i] != (uint8_t)MAGIC[i]) {
      hio_print("no clock stamp in the header\n");
      return;
    }
  }
  line_clear(&line);
  line_add(&line, "clock stamp: 20");
  line_uint(&line, clock_stamp[STAMP_YEAR], 2);
  line_add(&line, "/");
  line_uint(&line, clock_stamp[STAMP_MONTH], 2);
  line_add(&line, "/");
  line_uint(&line, clock_stamp[STAMP_DAY], 2);
  line_add(&line, " weekday ");
  line_uint(&line, clock_stamp[STAMP_WEEKDAY], 1);
  line_add(&line, " ");
  line_uint(&line, clock_stamp[STAMP_HOUR], 2);
  line_add(&line, ":");
  line_uint(&line, clock_stamp[STAMP_MINUTE], 2);
  line_add(&line, ":");
  line_uint(&line, clock_stamp[STAMP_SECOND], 2);
  line_add(&line, "\n");
  hio_print(line.text);
}

static void show_result(const char *what, int32_t value)
{
  line_clear(&line);
  line_add(&line, what);
  line_add(&line, ": ");
  line_int(&line, value);
  line_add(&line, "\n");
  hio_print(line.text);
}

static void copy_file(void)
{
  int32_t from = hio_open(SOURCE_FILE, OPEN_READ_ONLY);
  int32_t to = hio_open(COPY_FILE, OPEN_WRITE_ONLY | OPEN_CREATE | OPEN_TRUNCATE);
  if (from < 0 || to < 0) {
    hio_print("cannot open " SOURCE_FILE " or " COPY_FILE "\n");
    hio_close(from);
    hio_close(to);
    return;
  }
  int32_t total = 0;
  int32_t got;
  while ((got = hio_read(from, copy_buffer, sizeof copy_buffer)) > 0) {
    hio_write(to, copy_buffer, (uint32_t)got);
    total += got;
  }
  hio_close(from);
  hio_close(to);
  show_result("copied " SOURCE_FILE " to " COPY_FILE ", bytes", total);
}

static void append_to_log(void)
{
  int32_t log = hio_open(LOG_FILE, OPEN_WRITE_ONLY | OPEN_CREATE | OPEN_APPEND);
  /* In append mode a seek to the start changes nothing: the line goes to the end. */
  hio_seek(log, 0, ORIGIN_START);
  hio_write(log, LOG_LINE, sizeof LOG_LINE - 1);
  hio_close(log);
  hio_print("appended a line to " LOG_FILE "\n");
}

static void seek_in_copy(void)
{
  int32_t copy = hio_open(COPY_FILE, OPEN_READ_ONLY);
  show_result("size of " COPY_FILE, hio_seek(copy, 0, ORIGIN_END));
  show_result("seek to 5", hio_seek(copy, 5, ORIGIN_START));
  uint8_t bytes[4] = {0, 0, 0, 0};
  int32_t got = hio_read(copy, bytes, sizeof bytes);
  line_clear(&line);
  line_add(&line, "bytes 5 to 8:");
  for (int32_t i = 0; i < got; i++) {
    line_add(&line, " ");
    line_hex8(&line, bytes[i]);
  }
  line_add(&line, "\n");
  hio_print(line.text);
  show_result("seek back 2", hio_seek(copy, -2, ORIGIN_CURRENT));
  show_result("seek from origin 3", hio_seek(copy, 0, 3));
  hio_close(copy);
  show_result("read of a closed handle", hio_read(copy, bytes, sizeof bytes));
  show_result("seek of a closed handle", hio_seek(copy, 0, ORIGIN_START));
  show_result("open of a missing file", hio_open(MISSING_FILE, OPEN_READ_ONLY));
}

int main(void)
{
  hio_init();
  hio_answer_variant(0);
  show_stamp();
  hio_print("hello from the console\n");
  copy_file();
  append_to_log();
  seek_in_copy();
  hio_print("done\n");
  return 0;
}
