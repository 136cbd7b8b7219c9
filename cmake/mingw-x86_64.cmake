# The Windows programs for x86-64: only the tests use them, on machines that run no 32-bit
# programs; the release is 32-bit.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
