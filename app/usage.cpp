#include "app/usage.h"

namespace kartex {

void print_usage(std::ostream& out) {
  static constexpr const char* LINES[] = {
      "FLASH READ ------- kartex fr file_name [start_offset len(?? ??k ??m)]\n",
      "FLASH WRITE ------ kartex fw file_name [start_offset len(?? ??k ??m)]\n",
      "FLASH APEND ------ kartex fa file_name\n",
      "FLASH ALL ERASE -- kartex fe\n",
      "SAVE READ -------- kartex sr file_name [start_offset len(?? ??k ??m)]\n",
      "SAVE WRITE ------- kartex sw file_name [start_offset len(?? ??k ??m)]\n",
      "RTC LOAD & GO ---- kartex rtc rtc_pgm_file\n",
      "VTS GO ----------- kartex vts avi_file\n",
      "VTS GO ----------- kartex avi_file\n",
  };
  for (const char* line : LINES) out << line;
  out.flush();
}

void print_help(std::ostream& out) {
  print_usage(out);
  out << "\n"
         "Options, before or after the command word (-- ends them):\n"
         "  --help             show this text\n"
         "  --version          show the version\n"
         "  --usb VID:PID      use the USB device VID:PID (hex) as the cable\n"
         "  --sim[=KEY=VALUE,...]\n"
         "                     use the built-in simulator instead of a cable;\n"
         "                     --sim=help lists all keys. Among them:\n"
         "                     rom=FILE: cartridge ROM\n"
         "                     loader=bios|direct: how the console starts an upload:\n"
         "                       bios (default), as the console's BIOS does after a\n"
         "                       multiboot transfer (checks the header, branch at 0,\n"
         "                       boot-mode bytes, registers reset, entry at 0xC0 in\n"
         "                       system mode); direct, from 0x02000000 with the\n"
         "                       loader's interrupts left on\n"
         "                     chip-times=typical|max: how long the flash ROM chips\n"
         "                       and FLASH save parts take to erase and program:\n"
         "                       typical (default), their data sheets' typical figures;\n"
         "                       max, the longest the sheets allow\n"
         "                     state=DIR: keep cable, console and cartridge between runs\n"
         "                     link-clock=HZ: the cable's link clock\n"
         "                     usb-latency=US: USB turn-around\n"
         "                     stats: words, instructions, hardware time\n"
         "                     screens=DIR: a picture DIR/NNNNNN.png (from 000001) each\n"
         "                       time the displayed page switches\n"
         "                     keys=LIST: the keypad as KEYINPUT reads see it, counted\n"
         "                       from 1 per read: KEY@N holds KEY on read N, KEY@N-M on\n"
         "                       reads N to M, KEY+KEY@... holds keys together; keys a b\n"
         "                       select start right left up down r l; e.g.\n"
         "                       keys=start@10,right@20-22,a+b@30,b@40\n"
         "                     video-clock=host|hardware: what vts's playback follows:\n"
         "                       host, the host's clock, with the player's window and\n"
         "                       sound (default); hardware, the console's hardware time,\n"
         "                       without window or sound, so that a run shows the same\n"
         "                       pictures at the same simulated moments whatever the\n"
         "                       host's speed\n"
         "  --trace FILE       record every transfer on the cable in FILE\n"
         "  --files DIR        rtc: the folder the program's files live in (default: the\n"
         "                     current directory); it reaches nothing outside it\n"
         "  --eeprom-order ORDER  byte order of EEPROM save files for sr and sw:\n"
         "                     tool (the default) or emulator (as emulators keep them)\n"
         "  --video KIND       vts: changes (the default) sends each frame as changes to\n"
         "                     the page it overwrites; plain sends every frame whole\n"
         "  --timeout SECONDS  give up on a cable transfer after SECONDS (default 90)\n"
         "  --no-verify        skip the check after fw, fa and sw that the cartridge\n"
         "                     holds what was written\n"
         "  --all-blocks       fw, fa: write every erase block of the range, also those\n"
         "                     that already hold the file's bytes\n"
         "  --yes              fe: erase without asking first (the question comes only\n"
         "                     when standard input is a terminal)\n"
         "\n"
         "rtc [PROGRAM] loads PROGRAM (default rtcset.gba) on the console and serves its\n"
         "text and files until Ctrl-C.\n"
         "\n"
      << VTS_HELP
      << "\n"
         "Numbers: 0x prefix for hex; a length may end in k (x1024) or m (x1048576).\n"
         "A start offset is given only together with a length.\n"
         "Files: fr and sr take - for standard output (the tool's lines then go to\n"
         "standard error); a device or FIFO is written into, a symlink followed.\n"
         "Exit status: 0 on success, 255 on any failure, 128 + the signal when\n"
         "Ctrl-C, SIGTERM or SIGHUP stopped a command.\n";
  out.flush();
}

}  // namespace kartex
