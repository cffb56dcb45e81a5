include(GoogleTest)

# corvane_add_test(<name> LABEL unit|integration|ui SOURCES ... [LIBS ...] [TIMEOUT s]
#                  [LAUNCHER command...] [WIDGETS])
# One GoogleTest executable per call, registered with CTest as one test, run under a
# QCoreApplication by the shared test main, or under a QApplication with the windows and the
# widget test helpers linked in when WIDGETS is given. A launcher (such as
# tests/support/keyring-session) runs the executable, given as its last argument.
function(corvane_add_test name)
  cmake_parse_arguments(T "WIDGETS" "LABEL;TIMEOUT" "SOURCES;LIBS;LAUNCHER" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_WIDGETS)
    # The test's own main comes first, so the shared one in TestSupport is never pulled in.
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
    target_compile_definitions(${name} PRIVATE CORVANE_TEST_WIDGETS)
    list(APPEND T_LIBS WidgetTestSupport)
  endif()
  target_link_libraries(${name} PRIVATE TestSupport ${T_LIBS})
  corvane_warnings(${name})
  add_test(NAME ${name} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVANE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
