# The desktop program on Linux: the FLTK 1.3 window-system layer, test_zem,
# its desktop entry and icon, and the Debian package.
include(GNUInstallDirs)
find_package(X11 REQUIRED)
find_path(FLTK_INCLUDE_DIR FL/Fl.H REQUIRED)
find_library(FLTK_LIBRARY fltk REQUIRED)

add_library(zem_window_fltk STATIC
  platform/window_fltk.cpp
  platform/message_loop_fltk.cpp
  platform/draw_fltk.cpp
  platform/message_box_fltk.cpp)
target_include_directories(zem_window_fltk PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(zem_window_fltk SYSTEM PUBLIC ${FLTK_INCLUDE_DIR} ${X11_INCLUDE_DIR})
target_link_libraries(zem_window_fltk PUBLIC zem_artwork zem_text ${FLTK_LIBRARY} X11::X11)
zem_warnings(zem_window_fltk)

add_executable(test_zem platform/main_fltk.cpp)
target_link_libraries(test_zem PRIVATE zem_ui zem_sequencer zem_window_fltk)
zem_warnings(test_zem)

# The icon file of the desktop entry, made from the one definition of the
# icon in resources/artwork.cpp.
add_executable(zem_icon_png resources/icon_png.cpp)
target_link_libraries(zem_icon_png PRIVATE zem_artwork)
zem_warnings(zem_icon_png)
set(ZEM_ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/test-zem.png)
add_custom_command(OUTPUT ${ZEM_ICON_FILE}
                   COMMAND zem_icon_png ${ZEM_ICON_FILE}
                   DEPENDS zem_icon_png
                   COMMENT "Writing the program's icon")
add_custom_target(zem_icon ALL DEPENDS ${ZEM_ICON_FILE})

install(TARGETS test_zem RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/test-zem.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZEM_ICON_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME test-zem)
set(CPACK_PACKAGE_VENDOR "Dorvantic")
set(CPACK_PACKAGE_CONTACT "Test ZEM developers <test-zem@dorvantic.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "How much real-time digital-audio processing can this processor sustain?")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
