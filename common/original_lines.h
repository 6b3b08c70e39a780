#pragma once
// The fixed lines of the original tool, kept exactly as it printed them,
// misspellings and spacing included: scripts and users match on them, so
// they are not to be corrected. Lines of our own (errors on standard
// error, notices) live with their code, not here.

namespace kartex {

// First line of every run.
constexpr const char* LINE_BANNER =
    "*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************\n";

// The usage text, printed after a command line the tool cannot use.
constexpr const char* LINES_USAGE[] = {
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

// Files and the cable.
constexpr const char* LINE_CANT_OPEN = "Can't open %s file.\n";  // the file's name
constexpr const char* LINE_NO_CABLE = "Error can't found Tetherbox USB !!.\n";

// What the bring-up learnt of the cartridge (the save line is the save
// type's name followed by the size part).
constexpr const char* LINE_MASK_ROM_SIZE = "MASK ROM SIZE=0x%X\n";
constexpr const char* LINE_FLASH_ROM_SIZE = "FLASH ROM SIZE=0x%X\n";
constexpr const char* LINE_SAVE_SIZE = " SIZE=0x%X\n";

// Reads and writes of the ROM and the save memory.
constexpr const char* LINE_BYTES_READING = "0x%X bytes reading.\n";
constexpr const char* LINE_BYTES_WRITING = "0x%X bytes writeing.\n";
constexpr const char* LINE_START_BYTES_WRITING = "Start=0x%X  0x%X bytes writeing.\n";
constexpr const char* LINE_WRITE_TOO_BIG = "Write size(0x%X) is too big.\n";  // the length asked
constexpr const char* LINE_WRITE_LARGER_THAN_FILE = "Write size is larger than file size.\n";
constexpr const char* LINE_WRITE_LONGER_THAN_DEVICE = "Write size is longer than device.\n";
constexpr const char* LINE_SAVE_BOUNDARY = "SAVE read size and offset must be 0x%X boundary.\n";
constexpr const char* LINE_ERASE_START = "Erase START.\n";
constexpr const char* LINE_ERASE_END = "\nErase END.\n";

// The clock stamped into a program: date, then time (a space before the
// line end).
constexpr const char* LINE_STAMP_DATE = "%04d/%02d/%02d ";
constexpr const char* LINE_STAMP_TIME = "%02d:%02d:%02d \n";

// The video stream: its set-up steps and their failures.
constexpr const char* LINE_BG_OFF = "BG OFF \n";
constexpr const char* LINE_BG_CLEAR = "BG CLEAR\n";
constexpr const char* LINE_BG_MODE_4 = "BG MODE 4 \n";
constexpr const char* LINE_PALETTE_ENTRIES = "i=%d\n";  // colours of the cube
constexpr const char* LINE_CLEAR_BUF_FAILED = "clear buf faild\n";
constexpr const char* LINE_DISPLAY_ERROR = "dsplay error\n";
constexpr const char* LINE_DIB_SIZE_ERROR = "dsdibsize error\n";
constexpr const char* LINE_VIDEOBUF_FAILED = "videobuf faild\n";
constexpr const char* LINE_FRAME_SOURCE_TRACE = "%s:%d\n";  // source file, line of the failing call
constexpr const char* LINE_CANT_DECODE_BITS = "can't decoe biBitCount=%d\n";
constexpr const char* LINE_BIT_COUNT = "biBitCount=%d\n";
constexpr const char* LINE_BMP_COLOR_B = "BMP_COLOR_B=%d\n";

}  // namespace kartex
