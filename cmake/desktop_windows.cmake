# The desktop program on Windows: the Win32 window-system layer, the
# resources and Test_ZEM.exe, a GUI-subsystem executable.
enable_language(RC)
add_subdirectory(resources)

add_library(zem_window_win32 STATIC platform/window_win32.cpp)
target_include_directories(zem_window_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zem_window_win32 PUBLIC user32 gdi32)
zem_warnings(zem_window_win32)

# The program's texts reach the "A" calls as code page 1252 bytes, also if a
# literal is ever written with a non-ASCII character rather than an escape.
target_compile_options(zem_ui PRIVATE -fexec-charset=CP1252)

add_executable(test_zem WIN32 platform/main_win32.cpp)
set_target_properties(test_zem PROPERTIES OUTPUT_NAME Test_ZEM)
target_link_libraries(test_zem PRIVATE zem_ui zem_sequencer zem_window_win32 zem_resources)
zem_warnings(test_zem)
