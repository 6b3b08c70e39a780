#pragma once
// The usage text as the tool prints it, kept as the original cable tool
// printed it (its spelling included).

#include <string>

namespace kartex::test {

inline const std::string BANNER =
    "*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************\n";

inline const std::string USAGE =
    "FLASH READ ------- kartex fr file_name [start_offset len(?? ??k ??m)]\n"
    "FLASH WRITE ------ kartex fw file_name [start_offset len(?? ??k ??m)]\n"
    "FLASH APEND ------ kartex fa file_name\n"
    "FLASH ALL ERASE -- kartex fe\n"
    "SAVE READ -------- kartex sr file_name [start_offset len(?? ??k ??m)]\n"
    "SAVE WRITE ------- kartex sw file_name [start_offset len(?? ??k ??m)]\n"
    "RTC LOAD & GO ---- kartex rtc rtc_pgm_file\n"
    "VTS GO ----------- kartex vts avi_file\n"
    "VTS GO ----------- kartex avi_file\n";

}  // namespace kartex::test
