/* The keypad: a bit per key, 0 while the key is held.
 *
 * Plain #defines: included from the agent's C and the host's C++.
 */
#ifndef KARTEX_CONTRACT_HW_KEYPAD_H
#define KARTEX_CONTRACT_HW_KEYPAD_H

#define REG_KEYINPUT 0x04000130 /* read only */

#define KEY_A 0x0001
#define KEY_B 0x0002
#define KEY_SELECT 0x0004
#define KEY_START 0x0008
#define KEY_RIGHT 0x0010
#define KEY_LEFT 0x0020
#define KEY_UP 0x0040
#define KEY_DOWN 0x0080
#define KEY_R 0x0100
#define KEY_L 0x0200
#define KEY_MASK 0x03FF /* all ten; KEYINPUT reads this with no key held */

#endif
