# The desktop integration's tests: real widgets offscreen with a private home; the notification
# path against a recording notification server in a private D-Bus session.
if(KESTROVA_BUILD_TESTS)
  file(GLOB desktop_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Desktop/tests/*.cpp)
  add_executable(kestrova_desktop_tests ${desktop_test_sources}
                                        ${PROJECT_SOURCE_DIR}/Kestrova/tests/support/ApplicationIdentity.cpp)
  target_link_libraries(kestrova_desktop_tests PRIVATE kestrova_ui Qt6::Test project_warnings)
  target_compile_definitions(kestrova_desktop_tests PRIVATE KESTROVA_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  set(desktop_test_environment "QT_QPA_PLATFORM=offscreen")
  if(KESTROVA_SANITIZE STREQUAL "thread")
    list(APPEND desktop_test_environment
         "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${CMAKE_CURRENT_SOURCE_DIR}/Desktop/tests/tsan-desktop.supp")
  endif()
  foreach(test_class TrayTests SingleInstanceTests GlyphTests NotificationTests)
    set(runner ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-private-home)
    if(test_class STREQUAL "NotificationTests")
      list(APPEND runner dbus-run-session --config-file=${CMAKE_CURRENT_SOURCE_DIR}/Desktop/tests/session-bus.conf --)
    endif()
    add_test(NAME ui.desktop.${test_class} COMMAND ${runner} $<TARGET_FILE:kestrova_desktop_tests> ${test_class})
    set_tests_properties(ui.desktop.${test_class} PROPERTIES TIMEOUT 120 ENVIRONMENT "${desktop_test_environment}")
  endforeach()
endif()
