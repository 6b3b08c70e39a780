#pragma once
// The in-process cable transport: a simulated cable, console and cartridge
// behind the Pipes seam.

#include <iosfwd>
#include <memory>
#include <string>

#include "link/pipes.h"

namespace kartex {

struct SimOptions {
  std::string rom_file;   // rom=FILE: the cartridge's ROM; empty: a generated 4 MiB ROM
  std::string state_dir;  // state=DIR: keep cable, console and cartridge between runs
  bool stats = false;     // stats: print words moved and instructions run at the end
};

// "key=value,key,..." as typed after --sim=; "" gives the defaults. Unknown
// key or bad value: throws Failure with one clear line.
SimOptions parse_sim_options(const std::string& text);

// A Pipes transport onto a fresh simulated cable+console+cartridge (or the
// one kept in state_dir). `report` receives the simulator's log lines and,
// when the transport is destroyed, the stats line. With state_dir the
// destructor saves the state and writes state_dir/screen.png.
std::unique_ptr<Pipes> open_sim_cable(const SimOptions& options, std::ostream& report);

}  // namespace kartex
