// SPDX-License-Identifier: GPL-3.0-or-later
// The ground floor leaning on a floor above it.
#pragma once
#include "device/host.h"
