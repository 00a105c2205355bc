// The path separator on Linux.
#include "platform/path.h"

namespace jor {

const char PathSeparator = '/';

}  // namespace jor
