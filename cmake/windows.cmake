# The 32-bit Windows build: a windowless graphical-subsystem setup.exe and uninstall.exe on the
# platform's own profile functions, with the C and C++ runtimes linked in so that they run on a
# stock machine, plus the test helper that reads profile values through the same functions.
enable_language(RC)

target_sources(livery_core PRIVATE
  platform/windows/config_update.cpp
  platform/windows/executable_path.cpp
  platform/windows/profile_calls.cpp
  platform/windows/profile_sections.cpp
  platform/windows/report_failure.cpp)

# Small and self-contained: unused code dropped, symbols stripped, runtimes static.
target_compile_options(livery_core PUBLIC -ffunction-sections -fdata-sections)
set(LIVERY_WINDOWS_LINK_OPTIONS -static -s -Wl,--gc-sections)

add_executable(setup WIN32 installer/entry.cpp resources/setup.rc)
add_executable(uninstall WIN32 installer/uninstall_entry.cpp resources/setup.rc)
foreach(program setup uninstall)
  target_link_libraries(${program} PRIVATE livery_core)
  target_link_options(${program} PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})
  set_target_properties(${program} PROPERTIES OUTPUT_NAME ${program} SUFFIX .exe)
endforeach()

add_executable(profile_probe tests/windows/profile_probe.cpp)
target_link_options(profile_probe PRIVATE ${LIVERY_WINDOWS_LINK_OPTIONS})

# What livery authors download: the installer, the uninstaller and a short text on how to ship them.
set(LIVERY_RELEASE_ZIP ${CMAKE_BINARY_DIR}/livery-setup.zip)
add_custom_command(
  OUTPUT ${LIVERY_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/resources/README-livery-authors.txt
          ${CMAKE_BINARY_DIR}/README-livery-authors.txt
  COMMAND ${CMAKE_COMMAND} -E tar cf ${LIVERY_RELEASE_ZIP} --format=zip setup.exe uninstall.exe
          README-livery-authors.txt
  DEPENDS setup uninstall ${CMAKE_SOURCE_DIR}/resources/README-livery-authors.txt
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
add_custom_target(release_zip ALL DEPENDS ${LIVERY_RELEASE_ZIP})
