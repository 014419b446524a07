# Read by ctest after the path-tracer cases are discovered (the directory's
# TEST_INCLUDE_FILES), where the discovered names are known.
#
# A fresh build tree has no measured durations, so ctest would start cases in
# definition order and might leave the long path-tracer cases for last, with
# one core idle while they finish; a cost makes them start as soon as their
# pipelines are warm.
#
# "slow_statistics": the statistical renders that take minutes under
# AddressSanitizer (the Z-tests of the caustic scenes, energy conservation of rough
# glass to a tight bound, the convergence rate). scripts/test.sh runs them in
# the Release stage only; their host code (scene setup, batches, read-back)
# is the same every shorter path-tracer case runs, and those run under
# AddressSanitizer.
if(DEFINED pathtrace_tests_TESTS)
  set_tests_properties(${pathtrace_tests_TESTS} PROPERTIES COST 50)
  foreach(name IN LISTS pathtrace_tests_TESTS)
    if(name MATCHES "CausticAgreementTest\\.AgreesWithPathTracing/"
       OR name STREQUAL "FurnaceTest.RoughGlassKeepsItsEnergy"
       OR name STREQUAL "CornellTest.ErrorFallsAsOneOverTheSquareRootOfTheSampleCount")
      set_tests_properties(${name} PROPERTIES LABELS "render;slow_statistics")
    endif()
  endforeach()
endif()
