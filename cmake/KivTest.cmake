# SPDX-License-Identifier: GPL-3.0-or-later
# kiv_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# Builds one test program and registers it with CTest. Tests that need no
# Qt carry the label "core" so that the sanitizer build can run them alone.
function(kiv_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=:/etc/localtime;LC_ALL=C.UTF-8"
    TIMEOUT 600)
endfunction()
