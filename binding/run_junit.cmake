# Runs the Java suite under CheckJNI; any CheckJNI warning fails the run,
# even when every test passed.  Without the JUnit launcher it fails too: a
# machine with a JDK must not pass the suite by skipping it.
if(NOT JUNIT)
  message(FATAL_ERROR "The Java suite needs the JUnit console launcher: apt-get install junit5, then configure again")
endif()
execute_process(
  COMMAND ${JAVA} -Xcheck:jni -Djava.library.path=${LIBDIR}
          -jar ${JUNIT} --disable-banner --details=tree --disable-ansi-colors --fail-if-no-tests
          --class-path ${CLASSPATH} --scan-class-path
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "JUnit run failed (exit ${rc})")
endif()
if("${out}${err}" MATCHES "WARNING[^\n]*")
  message(FATAL_ERROR "CheckJNI reported: ${CMAKE_MATCH_0}")
endif()
