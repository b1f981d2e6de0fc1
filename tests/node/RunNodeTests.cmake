# Runs `node.exe --test` over every *.test.js in TEST_DIR, with the proxy DLL
# in KALEO_PROXY_DLL and koffi found through NODE_PATH. Fails when node.exe
# or koffi is missing, when node reports a failing test, or when no test ran.
#
# node.exe writes to a file that is printed afterwards: under Wine, node
# fails with EBADF when its standard output is a pipe.
foreach(var NODE_DIR PROXY_DLL TEST_DIR LOG)
  if(NOT ${var})
    message(FATAL_ERROR "RunNodeTests.cmake needs -D${var}=...")
  endif()
endforeach()

set(node_exe "${NODE_DIR}/node.exe")
if(NOT EXISTS "${node_exe}")
  message(FATAL_ERROR "node.exe not found at ${node_exe}: run scripts/setup.sh")
endif()
if(NOT EXISTS "${NODE_DIR}/node_modules/koffi/package.json")
  message(FATAL_ERROR "koffi not found in ${NODE_DIR}/node_modules: run scripts/setup.sh")
endif()
if(NOT EXISTS "${PROXY_DLL}")
  message(FATAL_ERROR "proxy DLL not found at ${PROXY_DLL}")
endif()
file(GLOB test_files "${TEST_DIR}/*.test.js")
if(NOT test_files)
  message(FATAL_ERROR "no *.test.js in ${TEST_DIR}")
endif()

# Paths as node.exe sees them: under Wine, / is drive Z:.
function(to_node_path out path)
  if(EMULATOR)
    set(path "Z:${path}")
  endif()
  string(REPLACE "/" "\\" path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

to_node_path(dll "${PROXY_DLL}")
to_node_path(modules "${NODE_DIR}/node_modules")
set(node_tests "")
foreach(file IN LISTS test_files)
  to_node_path(file "${file}")
  list(APPEND node_tests "${file}")
endforeach()

set(ENV{KALEO_PROXY_DLL} "${dll}")
set(ENV{NODE_PATH} "${modules}")
if(CMAKE_HOST_WIN32)
  set(null_device NUL)
else()
  set(null_device /dev/null)
endif()

# One file at a time: every file uses the same registry keys.
execute_process(
  COMMAND ${EMULATOR} "${node_exe}" --test --test-reporter=tap --test-concurrency=1 ${node_tests}
  INPUT_FILE "${null_device}" OUTPUT_FILE "${LOG}" ERROR_FILE "${LOG}"
  RESULT_VARIABLE rc TIMEOUT 240)

file(READ "${LOG}" output)
string(REPLACE "\r" "" output "${output}")
message("${output}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "node.exe --test failed: ${rc}")
endif()
if(NOT output MATCHES "\n# pass ([0-9]+)" OR CMAKE_MATCH_1 EQUAL 0)
  message(FATAL_ERROR "node.exe --test ran no test")
endif()
