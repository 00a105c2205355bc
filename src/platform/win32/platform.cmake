# Windows link settings of the platform library: Toolhelp and the process
# list are in kernel32, the window enumeration in user32, the security
# descriptors and the random names in advapi32.
target_compile_definitions(jor_platform PRIVATE _WIN32_WINNT=0x0601)  # Windows 7 and later
target_link_libraries(jor_platform PRIVATE kernel32 user32 advapi32)
