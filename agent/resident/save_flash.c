#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/save_flash.h"

void save_flash_unlock(void)
{
  bus_write8(FLASH_SAVE_ADDR_1, FLASH_SAVE_UNLOCK_1);
  bus_write8(FLASH_SAVE_ADDR_2, FLASH_SAVE_UNLOCK_2);
}

void save_flash_command(u8 command)
{
  save_flash_unlock();
  bus_write8(FLASH_SAVE_ADDR_1, command);
}

void save_flash_bank(u32 bank)
{
  save_flash_command(FLASH_SAVE_CMD_BANK);
  bus_write8(FLASH_SAVE_BANK_ADDR, (u8)bank);
}
