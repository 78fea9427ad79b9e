// The ground floor leaning on a floor above it.
#pragma once
#include "device/host.h"
