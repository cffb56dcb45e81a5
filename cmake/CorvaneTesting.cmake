include(GoogleTest)

# corvane_add_test(<name> LABEL unit|integration|ui SOURCES ... [LIBS ...] [TIMEOUT s]
#                  [LAUNCHER command...])
# One GoogleTest executable per call, registered with CTest as one test, run by the shared test
# main under a QCoreApplication, or for LABEL ui under a QApplication with TestSupportUI linked. A launcher (such as tests/support/keyring-session)
# runs the executable, given as its last argument.
function(corvane_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;LAUNCHER" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_LABEL STREQUAL "ui")
    target_link_libraries(${name} PRIVATE TestMainWidgets TestSupportUI)
  else()
    target_link_libraries(${name} PRIVATE TestMain)
  endif()
  target_link_libraries(${name} PRIVATE TestSupport ${T_LIBS})
  corvane_warnings(${name})
  add_test(NAME ${name} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVANE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
