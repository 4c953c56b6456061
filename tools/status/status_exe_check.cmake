# `rondel.exe status` as a program under wine: what it prints and its exit status for the
# venues that need no database (its --help, usage errors, a settings file that cannot be
# read, a database that refuses the connection with no snapshot set), one line per case. The
# states with a database are the model's table (status_test.cc), gathered in-process.
#   cmake -DEMULATOR=scripts/windows/run -DHOST=rondel.exe -DSCRATCH=DIR
#         -P status_exe_check.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
# Wine sees the Linux tree as drive Z:.
set(dir "Z:${SCRATCH}")
# Port 1 on loopback: nothing listens there, so the connection is refused.
file(WRITE ${SCRATCH}/Korvane.ini
  "[MainServer]\r\nDataBaseServerIp=127.0.0.1\r\nDataBaseServerPort=1\r\nUserName=sa\r\n"
  "PassWord=\r\nFileServerIP=10.9.9.9\r\n[KTV]\r\nDataBaseName=karaok\r\n")
set(paths "--snapshot-dir ${dir}/VideoServertable --log ${dir}/rondel.log")

# name | arguments (parted by spaces) | exit status | the first line of standard output, else of standard error
set(cases
  "Help|--help|0|usage: rondel status [--json] [--settings FILE] [--snapshot-dir DIR] [--log FILE]"
  "UnknownOption|--verbose|3|rondel status: unknown option --verbose"
  "MissingPath|--log|3|rondel status: --log needs a path"
  "SettingsUnreadable|--settings ${dir}/missing.ini ${paths}|3|NOTHING to serve: the database is unreachable (127.0.0.1: Connection refused. (Windows error 10061)) and no whole snapshot set (no directory ${dir}/VideoServertable/)"
  "NothingToServe|--settings ${dir}/Korvane.ini ${paths}|2|NOTHING to serve: the database is unreachable (127.0.0.1:1: Connection refused. (Windows error 10061)) and no whole snapshot set (no directory ${dir}/VideoServertable/)"
  "NothingToServeJson|--json --settings ${dir}/Korvane.ini ${paths}|2|{")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 arguments)
  list(GET fields 2 expected_status)
  list(GET fields 3 expected_line)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${EMULATOR} ${HOST} status ${arguments}
    WORKING_DIRECTORY ${SCRATCH}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(output STREQUAL "")
    set(output "${error}")
  endif()
  string(REGEX REPLACE "\r?\n.*" "" line "${output}")
  if(NOT status STREQUAL expected_status OR NOT line STREQUAL expected_line)
    message(SEND_ERROR "${name}: expected ${expected_status} \"${expected_line}\"\n"
      "  got ${status} \"${line}\"")
  endif()
endforeach()
