// A link header that reaches up into the commands: the include check must name it.
#pragma once
#include "cart/commands.h"
