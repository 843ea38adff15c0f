# Tests of a Windows build made on Linux run under wine, all in one prefix
# made fresh at the start of each test run (the wine-prefix fixture), with
# one wineserver and wine's background services kept running for the whole
# run. Started by a test instead, they would inherit that test's output
# pipes and hold them open, and the test would wait for them to end.
# Wine turns the Linux command line and file names into UTF-16 through the
# locale's character set: a UTF-8 locale, so that any name gets through
# (in the C locale, every byte past ASCII is mangled).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
  set(wine_environment WINEPREFIX=${wine_prefix} WINEDEBUG=-all LC_ALL=C.UTF-8)
  add_test(NAME wine.prefix
           COMMAND sh -c "rm -rf '${wine_prefix}' && wineboot --init && wineserver --wait && \
wineserver --persistent </dev/null >/dev/null 2>&1 && wineboot </dev/null >/dev/null 2>&1")
  set_tests_properties(wine.prefix PROPERTIES
    FIXTURES_SETUP wine-prefix ENVIRONMENT "${wine_environment}" TIMEOUT 300)
  add_test(NAME wine.stop COMMAND sh -c "wineserver --kill || true")
  set_tests_properties(wine.stop PROPERTIES
    FIXTURES_CLEANUP wine-prefix ENVIRONMENT "${wine_environment}")
endif()
