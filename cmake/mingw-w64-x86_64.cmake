# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model:
# std::thread and std::mutex need it) and run the test programs under Wine.
set(JOR_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
