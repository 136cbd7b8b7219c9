# The 32-bit Windows build: windowless graphical-subsystem programs on the platform's own profile
# functions, with the C and C++ runtimes linked in so that they run on a stock machine, plus the
# test helpers: one reads profile values through the same functions, one holds a file open or
# stands in for a virus scanner, one hands the decisions on a file's security Windows' answers.
enable_language(RC)

target_sources(livery_core PRIVATE
  platform/windows/carried_traits.cpp
  platform/windows/executable_path.cpp
  platform/windows/file_io.cpp
  platform/windows/file_reads.cpp
  platform/windows/profile_calls.cpp
  platform/windows/report.cpp
  platform/windows/target_lock.cpp
  platform/windows/paths.cpp
  platform/windows/security.cpp
  platform/windows/working_copy.cpp)

# Small and self-contained: unused code dropped, symbols stripped, runtimes static. No link time
# in the header, so that two builds of one commit give the same bytes.
target_compile_options(livery_core PUBLIC -ffunction-sections -fdata-sections)
set(LIVERY_WINDOWS_LINK_OPTIONS -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)

# livery_windows_program(NAME SOURCE...): NAME.exe as the release ships it, carrying the icon,
# manifest and version resource that resources/NAME.rc gives it through resources/program.rc.
function(livery_windows_program name)
  add_executable(${name} WIN32 ${ARGN} platform/windows/terminate_handler.cpp resources/${name}.rc)
  target_link_libraries(${name} PRIVATE livery_core)
  target_link_options(${name} PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})
  target_compile_definitions(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:RC>:LIVERY_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
    $<$<COMPILE_LANGUAGE:RC>:LIVERY_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
    $<$<COMPILE_LANGUAGE:RC>:LIVERY_VERSION_PATCH=${PROJECT_VERSION_PATCH}>)
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${name} SUFFIX .exe)
endfunction()

livery_windows_program(setup installer/entry.cpp)
livery_windows_program(uninstall installer/uninstall_entry.cpp)

add_executable(profile_probe tests/windows/profile_probe.cpp)
target_link_options(profile_probe PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})
add_executable(hold_file tests/windows/hold_file.cpp)
target_link_options(hold_file PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})
add_executable(security_probe tests/windows/security_probe.cpp)
target_link_libraries(security_probe PRIVATE livery_core)
target_link_options(security_probe PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})
