# dork5_add_test(NAME <name> SOURCES <files...> [LABEL unit|gui|e2e|interop]
#                [GUI] [WINDOWS] [TIMEOUT seconds] [LIBS extra...])
# Every test runs on the offscreen platform with its own settings directory
# (XDG_CONFIG_HOME) and working directory, so no test touches the user's files.
# Interop tests check against Linux programs (Python readers, LibreOffice,
# shapelib) and are built for Windows only when marked WINDOWS (they have a
# check of their own there).
function(dork5_add_test)
  cmake_parse_arguments(T "GUI;WINDOWS" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(WIN32 AND T_LABEL STREQUAL "interop" AND NOT T_WINDOWS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE dork5gui Qt6::Test ${T_LIBS})
  else()
    target_link_libraries(${T_NAME} PRIVATE dork5core Qt6::Test ${T_LIBS})
  endif()
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.work)
  file(MAKE_DIRECTORY ${work})
  if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME ${T_NAME} COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine_run.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
             $<TARGET_FILE:${T_NAME}> WORKING_DIRECTORY ${work})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${work})
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS ${T_LABEL}
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${work}/config;DORK5_TEST_WORKDIR=${work};DORK5_SOURCE_DIR=${PROJECT_SOURCE_DIR};QT_LOGGING_RULES=qt.qpa.*=false")
endfunction()
