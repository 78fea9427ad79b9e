// SPDX-License-Identifier: GPL-3.0-or-later
// Qt in the core.
#include <QString>
