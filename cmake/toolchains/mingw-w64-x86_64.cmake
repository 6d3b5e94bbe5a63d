# Cross-builds the 64-bit Windows Mirrowen.dll (x64, PE32+) with Debian's MinGW-w64
# (g++-mingw-w64-x86-64), from the same sources as the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
