// SPDX-License-Identifier: GPL-3.0-or-later
// One floor reaching sideways into a neighbour on the same floor.
#pragma once
#include "sim/sim_backend.h"
