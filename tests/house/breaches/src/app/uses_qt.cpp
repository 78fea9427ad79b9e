// Qt in the core.
#include <QString>
