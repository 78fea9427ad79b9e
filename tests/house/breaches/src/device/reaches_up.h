// SPDX-License-Identifier: GPL-3.0-or-later
// A device file that reaches up into the program.
#pragma once
#include "app/program.h"
