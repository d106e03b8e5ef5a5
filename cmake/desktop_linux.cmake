# The desktop program on Linux: the FLTK 1.3 window-system layer and test_zem.
find_package(X11 REQUIRED)
find_path(FLTK_INCLUDE_DIR FL/Fl.H REQUIRED)
find_library(FLTK_LIBRARY fltk REQUIRED)

add_library(zem_window_fltk STATIC
  platform/window_fltk.cpp
  platform/draw_fltk.cpp
  platform/message_box_fltk.cpp)
target_include_directories(zem_window_fltk PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(zem_window_fltk SYSTEM PUBLIC ${FLTK_INCLUDE_DIR} ${X11_INCLUDE_DIR})
target_link_libraries(zem_window_fltk PUBLIC zem_artwork zem_text ${FLTK_LIBRARY} X11::X11)
zem_warnings(zem_window_fltk)

add_executable(test_zem platform/main_fltk.cpp)
target_link_libraries(test_zem PRIVATE zem_ui zem_sequencer zem_window_fltk)
zem_warnings(test_zem)
