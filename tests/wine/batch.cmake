# The Windows DLL against the Linux build: kestrune_batch_driver.exe answers
# JSON Lines with the tool's own batch code through brindel_Kestrune.dll, and
# compare-batch.sh checks that its answers, and the files it writes, are
# byte-identical to those of the Linux `kestrune batch` for the same
# requests. Included by tests/CMakeLists.txt for Windows cross builds.

# nlohmann-json is header-only and the same for every target, but the cross
# build searches only the target's root. Point at the host's header folder
# alone, through a link in the build tree, so that the rest of the host's
# /usr/include stays out of the cross build.
find_path(KESTRUNE_HOST_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "Host folder holding nlohmann/json.hpp")
if(NOT KESTRUNE_HOST_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found on the host: run scripts/setup (package nlohmann-json3-dev)")
endif()
set(kestrune_json_stage ${CMAKE_CURRENT_BINARY_DIR}/host-json)
file(MAKE_DIRECTORY ${kestrune_json_stage})
file(CREATE_LINK ${KESTRUNE_HOST_JSON_INCLUDE_DIR}/nlohmann ${kestrune_json_stage}/nlohmann SYMBOLIC)
add_library(kestrune_host_json INTERFACE)
target_include_directories(kestrune_host_json SYSTEM INTERFACE ${kestrune_json_stage})

# The tool's batch code as it is, over the DLL's import library.
add_executable(kestrune_batch_driver ${CMAKE_CURRENT_LIST_DIR}/batch_driver.cpp ${PROJECT_SOURCE_DIR}/cli/batch.cpp
               ${PROJECT_SOURCE_DIR}/cli/host.cpp)
target_link_libraries(kestrune_batch_driver PRIVATE brindel_Kestrune kestrune_core kestrune_host_json)

# The Linux tool to compare with; the presets point it at the default build,
# which scripts/test-windows builds first.
set(KESTRUNE_HOST_TOOL "" CACHE FILEPATH "The Linux kestrune tool whose batch answers the DLL's must equal")
add_test(NAME kestrune_batch_compare
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/compare-batch.sh ${KESTRUNE_WINE_BITS} "${KESTRUNE_HOST_TOOL}"
                 $<TARGET_FILE:kestrune_batch_driver> ${CMAKE_CURRENT_BINARY_DIR}/batch-compare)
set_tests_properties(kestrune_batch_compare PROPERTIES TIMEOUT 1800)

# The programs that link the DLL's entry points must import them from the
# DLL itself, in both bitnesses. Needs no Wine, so it also runs where the
# programs cannot.
add_test(NAME dll_imports
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE_NAME:brindel_Kestrune>
                 $<TARGET_FILE:kestrune_batch_driver> $<TARGET_FILE:kestrune_dispatch_tests>)
set_tests_properties(dll_imports PROPERTIES LABELS nowine)
add_test(NAME dll_runtime
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-runtime.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:brindel_Kestrune>)
set_tests_properties(dll_runtime PROPERTIES LABELS nowine)
# The type library is compiled for the DLL's bitness, whichever Wine
# stdole2.tlb the machine has (a machine without 32-bit Wine imports the
# 64-bit one); no Wine needed.
add_test(NAME dll_typelib
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check-typelib.py ${KESTRUNE_WINE_BITS}
                 ${PROJECT_BINARY_DIR}/automation/brindel_Kestrune.tlb $<TARGET_FILE:brindel_Kestrune>)
set_tests_properties(dll_typelib PROPERTIES LABELS nowine)
# Both bitnesses carry the same vector paths (AVX2 and AVX-512); no Wine needed.
add_test(NAME dll_paths
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-paths.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:brindel_Kestrune>)
set_tests_properties(dll_paths PROPERTIES LABELS nowine)
