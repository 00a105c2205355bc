// The path separator on Windows.
#include "platform/path.h"

namespace jor {

const char PathSeparator = '\\';

}  // namespace jor
