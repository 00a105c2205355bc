#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

// The window and the folder browser live on a COM apartment thread, as in the program.
int main(int argc, char** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
