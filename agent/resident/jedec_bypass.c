/* The JEDEC unlock bypass: entered once for a range and left after it, and
 * dropped for the session on a chip that shows it does not take it. None
 * of it runs between the steps, so it stays out of internal work RAM. */
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cold.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/jedec_bypass.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"

COLD void jedec_bypass_enter(void)
{
  jedec_unlock();
  bus_write16(JEDEC_ADDR_1, JEDEC_CMD_UNLOCK_BYPASS);
}

COLD void jedec_bypass_leave(void)
{
  bus_write16(ROM_BASE, JEDEC_CMD_BYPASS_RESET);
  bus_write16(ROM_BASE, JEDEC_CMD_BYPASS_RESET_2);
}

COLD int jedec_unlocked_retry(u32 h, u16 value)
{
  jedec_bypass_leave();
  jedec_unlock();
  bus_write16(JEDEC_ADDR_1, JEDEC_CMD_PROGRAM);
  chip_write(h, value);
  if (jedec_wait_data(h, value))
    return 1;
  jedec_four_writes = 1;
  return 0;
}
