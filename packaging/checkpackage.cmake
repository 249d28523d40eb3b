# Builds the Debian package of the build in a scratch folder and runs lintian on it, as a
# packager would: fails when lintian reports an error, and shows what else it says. Run with
# -DBUILD=<build folder> -DSCRATCH=<folder> -DLINTIAN=<lintian> -DCPACK=<cpack>.
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
execute_process(COMMAND "${CPACK}" -G DEB -B "${SCRATCH}" --config "${BUILD}/CPackConfig.cmake"
                RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE said)
file(GLOB packages "${SCRATCH}/*.deb")
set(failure "")
if(NOT result EQUAL 0 OR NOT packages)
  set(failure "cpack made no package (${result}): ${said}")
else()
  execute_process(COMMAND "${LINTIAN}" --fail-on error --info ${packages}
                  RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE said)
  message("${said}")
  if(NOT result EQUAL 0)
    set(failure "lintian reports errors (status ${result})")
  endif()
endif()
file(REMOVE_RECURSE "${SCRATCH}")
if(failure)
  message(FATAL_ERROR "${failure}")
endif()
