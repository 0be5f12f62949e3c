# Print tests run against private CUPS servers that scripts/print-server.sh
# starts and stops around them: print_server has a default queue printing to
# a PDF file, print_server_empty has no queue at all. libcups and Qt take the
# server from CUPS_SERVER once per process, hence one test program per server.

set(KEYLOFT_PRINT_SERVER_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/print-server.sh)
set(KEYLOFT_PRINT_SERVERS ${CMAKE_CURRENT_BINARY_DIR}/print-servers)
# A Unix socket path holds at most 107 bytes; a deep build folder falls back
# to a short folder of its own under the temporary folder.
string(LENGTH "${KEYLOFT_PRINT_SERVERS}/empty/cups.sock" _length)
if(_length GREATER 100)
  if(DEFINED ENV{TMPDIR} AND NOT "$ENV{TMPDIR}" STREQUAL "")
    set(_tmp "$ENV{TMPDIR}")
  else()
    set(_tmp "/tmp")
  endif()
  string(MD5 _hash "${CMAKE_CURRENT_BINARY_DIR}")
  string(SUBSTRING "${_hash}" 0 12 _hash)
  set(KEYLOFT_PRINT_SERVERS "${_tmp}/keyloft-print-${_hash}")
endif()

# keyloft_print_server(FIXTURE DIR [--no-queue]): the start and stop tests
# of one server.
function(keyloft_print_server fixture dir)
  add_test(NAME ${fixture}_start
           COMMAND bash ${KEYLOFT_PRINT_SERVER_SCRIPT} start ${dir} ${ARGN})
  add_test(NAME ${fixture}_stop COMMAND bash ${KEYLOFT_PRINT_SERVER_SCRIPT} stop ${dir})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 60)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60)
endfunction()

# keyloft_print_test(TEST FIXTURE DIR): TEST prints through that server only.
function(keyloft_print_test test fixture dir)
  set_tests_properties(${test} PROPERTIES
    FIXTURES_REQUIRED ${fixture}
    RESOURCE_LOCK ${fixture}
    ENVIRONMENT "CUPS_SERVER=${dir}/cups.sock;KEYLOFT_PRINT_OUTPUT=${dir}/out/keyloft-pdf.pdf"
    # A destination of the user's own would win over the server's default.
    ENVIRONMENT_MODIFICATION "LPDEST=unset:;PRINTER=unset:")
endfunction()

keyloft_print_server(print_server ${KEYLOFT_PRINT_SERVERS}/queue)
keyloft_print_server(print_server_empty ${KEYLOFT_PRINT_SERVERS}/empty --no-queue)
keyloft_print_test(tst_print print_server ${KEYLOFT_PRINT_SERVERS}/queue)
keyloft_print_test(tst_print_nodefault print_server_empty ${KEYLOFT_PRINT_SERVERS}/empty)
