/* Code that runs once per request or at bring-up: identification, save
 * detection, the CFI tables, failure bookkeeping. None of it keeps pace
 * with the link or with a chip in a loop, so it does not take internal
 * work RAM from the loops that must. It runs as Thumb from the video RAM
 * that the bitmap pages leave free (agent.ld): a 16-bit bus, where Thumb
 * takes one fetch an instruction. Nothing timed may be marked so. */
#ifndef KARTEX_AGENT_COLD_H
#define KARTEX_AGENT_COLD_H

#define COLD __attribute__((section(".cold.text"), target("thumb")))

#endif
