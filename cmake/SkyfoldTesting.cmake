# One helper registers every test executable with CTest.
#   skyfold_add_test(NAME SOURCES a.cpp b.cpp LIBS lib... [LABELS l...] [GUI])
# GUI tests run on Qt's offscreen platform, so no display is needed.
include(GoogleTest)
find_package(GTest REQUIRED)

# Tests that run work on several threads also get the label "threads", which
# the ThreadSanitizer build runs (ctest -L threads). A test counts as threaded
# when its full name (Suite.Test) matches this pattern, so name a new suite or
# test after the threads it uses (…Thread…, Parallel…, Concurrent…, Overlapped…,
# …Ahead…) and it is picked up.
set(SKYFOLD_THREADED_TESTS
    "Thread|Parallel|Concurren|Overlap|Ahead|Pipelin|Prefault|PreparedTable\\.|WarpAndSave\\.")

function(skyfold_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_SOURCES)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set(props "")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  set(env "")
  if(T_GUI)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(SKYFOLD_TSAN)
    list(APPEND env "TSAN_OPTIONS=${SKYFOLD_TSAN_OPTIONS}")
  endif()
  if(env)
    list(APPEND props ENVIRONMENT "${env}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})

  # Runs in CTest after the discovered tests are added (the include files run
  # in order), when ${name}_TESTS lists them.
  set(labeller "${CMAKE_CURRENT_BINARY_DIR}/${name}_threads_label.cmake")
  file(WRITE "${labeller}"
    "foreach(t IN LISTS ${name}_TESTS)\n"
    "  if(t MATCHES [==[${SKYFOLD_THREADED_TESTS}]==])\n"
    "    set_tests_properties(\"\${t}\" PROPERTIES LABELS [==[${T_LABELS};threads]==])\n"
    "  endif()\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labeller}")
endfunction()
