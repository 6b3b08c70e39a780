#pragma once
// The question before fe erases a whole cartridge: one letter away from fr,
// and nothing brings the ROM back.

#include <istream>

#include "cart/cart_info.h"

namespace kartex {

class CableLink;
struct Output;

// Names the cartridge (its header's title and game code when the ROM has a
// valid header) and its size on standard error and reads one answer line
// from `in`; anything but y or yes fails with one line, before any erase
// request. A cartridge that cannot be erased is refused before the question.
void confirm_erase(CableLink& link, const CartInfo& cart, Output& con, std::istream& in);

}  // namespace kartex
