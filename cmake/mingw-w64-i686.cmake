# Cross-build for 32-bit Windows with Debian's mingw-w64 (posix thread model)
# and run the test programs under Wine (needs wine32).
set(JOR_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
