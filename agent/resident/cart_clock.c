/* The cartridge clock: the GPIO port at 0x080000C4-C9 and the serial
 * real-time clock behind it (contract/hw/cart_clock.h). The port's
 * registers read back only after the control register is set; before
 * that, reads return the ROM's own bytes. A ROM without the port ignores
 * the writes, so probing it leaves the cartridge as it was. */
#include "agent/resident/bus.h"
#include "agent/resident/cart_clock.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"
#include "contract/hw/cart_clock.h"

/* The chip needs each half-period of its clock to last about a
 * microsecond; a ROM-window access takes a third of that. A low level is
 * written this often; a high level is written once (a port that counted
 * writes rather than edges would take a repeated high for more clocks)
 * and held by reads, which the port ignores. */
#define CLOCK_HOLD_ACCESSES 3

/* Status bits no chip sets: a port without a clock reads them as SIO
 * floats. */
#define CLOCK_STATUS_UNUSED 0x15

static void clock_low(u32 state)
{
  for (u32 i = 0; i < CLOCK_HOLD_ACCESSES; i++)
    bus_write16(REG_GPIO_DATA, (u16)state);
}

static void clock_high(u32 state)
{
  bus_write16(REG_GPIO_DATA, (u16)(state | GPIO_PIN_SCK));
  for (u32 i = 0; i < CLOCK_HOLD_ACCESSES; i++)
    (void)bus_read16(REG_GPIO_DATA);
}

/* CS low with SCK high, then CS high: a transfer starts. */
static void transfer_begin(void)
{
  bus_write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_SIO | GPIO_PIN_CS);
  bus_write16(REG_GPIO_DATA, GPIO_PIN_SCK);
  bus_write16(REG_GPIO_DATA, GPIO_PIN_SCK | GPIO_PIN_CS);
}

static void transfer_end(void)
{
  bus_write16(REG_GPIO_DATA, GPIO_PIN_SCK);
  bus_write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_SIO | GPIO_PIN_CS);
}

/* The chip takes SIO at the rising edge. */
static void send_bit(u32 bit)
{
  const u32 sio = bit ? GPIO_PIN_SIO : 0;
  clock_low(GPIO_PIN_CS | sio);
  clock_high(GPIO_PIN_CS | sio);
}

/* Commands go most significant bit first. */
static void send_command(u32 command)
{
  for (int i = 7; i >= 0; i--)
    send_bit((command >> i) & 1);
}

static void send_byte(u32 value)
{
  for (u32 i = 0; i < 8; i++)
    send_bit((value >> i) & 1);
}

/* SIO must be an input (the direction register without it). */
static u32 receive_byte(void)
{
  u32 value = 0;
  for (u32 i = 0; i < 8; i++) {
    clock_low(GPIO_PIN_CS);
    clock_high(GPIO_PIN_CS);
    if (bus_read16(REG_GPIO_DATA) & GPIO_PIN_SIO)
      value |= 1u << i;
  }
  return value;
}

static void read_register(u32 command, u8 *out, u32 bytes)
{
  transfer_begin();
  send_command(command);
  /* SIO turns round while the clock is low. */
  clock_low(GPIO_PIN_CS);
  bus_write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_CS);
  for (u32 i = 0; i < bytes; i++)
    out[i] = (u8)receive_byte();
  transfer_end();
}

static void write_register(u32 command, const u8 *bytes, u32 count)
{
  transfer_begin();
  send_command(command);
  for (u32 i = 0; i < count; i++)
    send_byte(bytes[i]);
  transfer_end();
}

/* Whether the port answers: with reads enabled, the direction register
 * holds two different values in turn, which no ROM byte does. */
static int port_answers(void)
{
  bus_write16(REG_GPIO_CONTROL, GPIO_CONTROL_READABLE);
  bus_write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_CS);
  const u32 first = bus_read16(REG_GPIO_DIRECTION) & GPIO_PINS;
  bus_write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_SIO | GPIO_PIN_CS);
  const u32 second = bus_read16(REG_GPIO_DIRECTION) & GPIO_PINS;
  return first == (GPIO_PIN_SCK | GPIO_PIN_CS) && second == (GPIO_PIN_SCK | GPIO_PIN_SIO | GPIO_PIN_CS);
}

void clock_port_release(void)
{
  bus_write16(REG_GPIO_DIRECTION, 0);
  bus_write16(REG_GPIO_DATA, 0);
  bus_write16(REG_GPIO_CONTROL, 0);
}

int clock_port_possible(void)
{
  return rom_kind == ROM_KIND_MASK || cfi_ignores_port_writes();
}

/* The clock's status and date-time registers into info (REQ_CLOCK_READ's
 * layout); info[0] stays 0 when there is no clock. Leaves the port
 * readable for a write that follows. */
static void clock_sample(u32 info[CLOCK_INFO_WORDS])
{
  u8 status = 0;
  u8 time[CLOCK_DATETIME_BYTES];
  info[0] = info[1] = info[2] = 0;
  /* Most flash chips would take the port's writes as commands. */
  if (!clock_port_possible() || !port_answers())
    return;
  read_register(CLOCK_CMD_STATUS_READ, &status, 1);
  read_register(CLOCK_CMD_DATETIME_READ, time, CLOCK_DATETIME_BYTES);
  /* A port without a clock (a rumble or sensor cartridge) answers SIO as
   * it floats: all ones or all zeros, no month. */
  if ((status & CLOCK_STATUS_UNUSED) || time[1] == 0 || time[1] > 0x12)
    return;
  info[0] = CLOCK_PRESENT | status;
  info[1] = time[0] | (u32)time[1] << 8 | (u32)time[2] << 16 | (u32)time[3] << 24;
  info[2] = time[4] | (u32)time[5] << 8 | (u32)time[6] << 16;
}

void req_clock_read(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  u32 info[CLOCK_INFO_WORDS];
  clock_sample(info);
  if (clock_port_possible())
    clock_port_release();
  send_words(CLOCK_INFO_WORDS, info);
}

void req_clock_write(u32 status, u32 date, u32 time)
{
  u32 info[CLOCK_INFO_WORDS];
  u32 reply = CLOCK_ABSENT;
  clock_sample(info);
  if (info[0] & CLOCK_PRESENT) {
    /* The hour mode first: the hour written is read in it. */
    const u8 mode = (u8)(status & CLOCK_STATUS_WRITABLE);
    const u8 bytes[CLOCK_DATETIME_BYTES] = {
        (u8)date, (u8)(date >> 8), (u8)(date >> 16), (u8)(date >> 24), (u8)time, (u8)(time >> 8), (u8)(time >> 16),
    };
    write_register(CLOCK_CMD_STATUS_WRITE, &mode, 1);
    write_register(CLOCK_CMD_DATETIME_WRITE, bytes, CLOCK_DATETIME_BYTES);
    reply = REPLY_DONE;
  }
  if (clock_port_possible())
    clock_port_release();
  send_words(1, &reply);
}
