#include "agent/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/save_flash.h"

void save_flash_command(u8 command)
{
  bus_write8(FLASH_SAVE_ADDR_1, FLASH_SAVE_UNLOCK_1);
  bus_write8(FLASH_SAVE_ADDR_2, FLASH_SAVE_UNLOCK_2);
  bus_write8(FLASH_SAVE_ADDR_1, command);
}
