// A device file that reaches up into the program.
#pragma once
#include "app/program.h"
