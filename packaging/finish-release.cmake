# Run by cpack once it has made the ZIP (CPACK_POST_BUILD_SCRIPTS), before
# it copies the ZIP from its staging folder to CPACK_PACKAGE_DIRECTORY.
execute_process(
  COMMAND ${CPACK_RELEASE_PYTHON} ${CPACK_RELEASE_ZIP_SCRIPT}
          --source-dir ${CPACK_RELEASE_SOURCE_DIR} --sums-dir ${CPACK_PACKAGE_DIRECTORY}
          ${CPACK_PACKAGE_FILES}
  COMMAND_ERROR_IS_FATAL ANY)
