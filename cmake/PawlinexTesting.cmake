# pawlinex_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [TIMEOUT <s>])
#   One GoogleTest executable per test file, registered as one CTest test.
# pawlinex_add_qtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS ...] [TIMEOUT <s>])
#   One Qt Test executable, run offscreen.
#
# Every test gets a private program folder through PAWLINEX_TEST_TMP (a fresh temporary folder is
# made by the test itself), SDL's dummy audio driver and Qt's offscreen platform, so the suite runs
# without a display or a sound card. PAWLINEX_TEST_PEERS points to the scripts that start real
# servers (SMTP, POP3, FTP) on 127.0.0.1, PAWLINEX_PROGRAM_DIR to the built program folder.

set(PAWLINEX_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "SDL_AUDIODRIVER=dummy"
    "PAWLINEX_TEST_PEERS=${CMAKE_SOURCE_DIR}/tests/peers"
    "PAWLINEX_PROGRAM_DIR=${PAWLINEX_PROGRAM_DIR}"
    "PAWLINEX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

function(_pawlinex_register_test name timeout labels)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT timeout)
        set(timeout 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${PAWLINEX_TEST_ENV}"
        TIMEOUT ${timeout}
        LABELS "${labels}")
endfunction()

function(pawlinex_add_gtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    _pawlinex_register_test(${name} "${T_TIMEOUT}" "${T_LABELS}")
endfunction()

function(pawlinex_add_qtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    _pawlinex_register_test(${name} "${T_TIMEOUT}" "${T_LABELS}")
endfunction()
