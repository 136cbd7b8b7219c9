# Cross-building the Windows programs with Debian's mingw-w64 toolchain (win32 threads), for the
# processor that the including toolchain file names in CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(LIVERY_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_CXX_COMPILER ${LIVERY_MINGW}-g++)
set(CMAKE_RC_COMPILER ${LIVERY_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LIVERY_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
