# The read-ahead stress test of the ThreadSanitizer tree (scripts/build tsan):
# a few seconds of random stops, cancels and slow reads, one CTest test.
add_executable(read_ahead_stress ${CMAKE_CURRENT_LIST_DIR}/read_ahead_stress.cpp)
target_link_libraries(read_ahead_stress PRIVATE scanner)
target_include_directories(read_ahead_stress PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_test(NAME tsan.read_ahead_stress COMMAND read_ahead_stress 5)
set_tests_properties(tsan.read_ahead_stress PROPERTIES LABELS tsan TIMEOUT 300
  ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1")
