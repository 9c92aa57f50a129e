# test_programs.cmake: how a test program is registered, and the targets that build them.
#
#   zentrel_add_gtest(NAME LIBRARY... [SOURCES file...] [PROGRAMS target...]
#                     [TIMEOUT seconds] [PROCESSORS n] [LABELS label...])
#   zentrel_add_qtest(NAME LIBRARY... [same options])
#
# NAME is the program and its CTest test. SOURCES default to NAME.cpp beside the calling
# CMakeLists.txt. LIBRARY... is the library under test and its fakes: nothing more, so a
# test is built as soon as what it tests is. PROGRAMS are the programs the test starts;
# they are built before it. PROCESSORS: how many of CTest's -j slots the test takes, for a
# test that keeps the cores busy (floods, many clients) rather than waiting on them.
# A GoogleTest program links gtest_main; a QtTest program has its QTEST_MAIN, moc, Qt's
# offscreen platform and ZENTREL_BINARY / ZENTREL_SOURCE_DIR.
# Programs of one kind share a precompiled header, and are compiled with ZENTREL_TEST_FLAGS
# (-O0 -g1): the libraries under test keep the tree's flags.
# Tests labelled bench or package are not run in the sanitizer tree, so not built there.
#
#   cmake --build DIR --target test-programs             everything CTest runs in DIR
#   cmake --build DIR --target sanitized-test-programs   what the sanitizer run runs

set(ZENTREL_UNSANITIZED_LABELS bench package)

# Test code needs no optimising, and line tables are enough for a backtrace; the
# libraries under test keep the flags of the tree's build type.
set(ZENTREL_TEST_FLAGS "-O0 -g1" CACHE STRING "Compile flags of the test programs, after the build type's")
separate_arguments(zentrel_test_compile_options UNIX_COMMAND "${ZENTREL_TEST_FLAGS}")
list(APPEND zentrel_test_compile_options -Winvalid-pch)

# One precompiled header per kind. Qt's test header reads QT_TESTCASE_BUILDDIR, the
# directory of the program, so QtTest programs share one header per directory.
function(zentrel_test_pch kind result)
    if(kind STREQUAL "qtest")
        get_directory_property(host ZENTREL_QTEST_PCH)
        if(NOT host)
            get_property(count GLOBAL PROPERTY ZENTREL_QTEST_PCH_COUNT)
            math(EXPR count "${count} + 1")
            set_property(GLOBAL PROPERTY ZENTREL_QTEST_PCH_COUNT ${count})
            set(host zentrel_qtest_pch_${count})
            set_directory_properties(PROPERTIES ZENTREL_QTEST_PCH ${host})
            zentrel_test_pch_host(${host} qtest)
        endif()
    else()
        set(host zentrel_gtest_pch)
        if(NOT TARGET ${host})
            zentrel_test_pch_host(${host} gtest)
        endif()
    endif()
    set(${result} ${host} PARENT_SCOPE)
endfunction()

# A library that only compiles the header, with the flags of the programs that reuse it.
function(zentrel_test_pch_host host kind)
    set(source ${CMAKE_BINARY_DIR}/test_pch/${host}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "// The host of a test programs' precompiled header.\n")
    add_library(${host} OBJECT ${source})
    zentrel_test_kind_flags(${host} ${kind})
    set_target_properties(${host} PROPERTIES EXCLUDE_FROM_ALL ON)
    if(kind STREQUAL "qtest")
        target_precompile_headers(${host} PRIVATE
            <QTest> <QApplication> <QWidget> <QProcess> <QTcpServer> <QTcpSocket>
            <QDir> <QFile> <QFileInfo> <QTemporaryDir> <QElapsedTimer> <QTimer>
            <QRegularExpression> <QStandardPaths> <QRandomGenerator>
            <algorithm> <functional> <map> <memory> <optional> <string> <vector>)
    else()
        target_precompile_headers(${host} PRIVATE
            <gtest/gtest.h> <algorithm> <chrono> <cstring> <deque> <filesystem> <fstream>
            <functional> <map> <memory> <optional> <sstream> <string> <string_view> <vector>)
    endif()
endfunction()

# What every program of a kind is compiled and linked with (the header's host too).
function(zentrel_test_kind_flags target kind)
    target_compile_options(${target} PRIVATE ${zentrel_test_compile_options})
    if(kind STREQUAL "qtest")
        target_link_libraries(${target} PRIVATE Qt6::Test Qt6::Widgets Qt6::Network)
        target_compile_definitions(${target} PRIVATE
            ZENTREL_BINARY="$<TARGET_FILE:zentrel>"
            ZENTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    else()
        target_link_libraries(${target} PRIVATE GTest::gtest_main)
        # RE2's pkg-config file adds -pthread (it defines _REENTRANT) to the programs that use
        # it: all of them compile with it, or GCC refuses their shared header and they parse
        # GoogleTest's headers again.
        target_compile_options(${target} PRIVATE -pthread)
        # Events are set with designated initializers that name only what a test hears.
        target_compile_options(${target} PRIVATE -Wno-missing-field-initializers)
    endif()
endfunction()

function(zentrel_add_test_program kind name)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "TIMEOUT;PROCESSORS" "SOURCES;PROGRAMS;LABELS")
    if(NOT arg_SOURCES)
        set(arg_SOURCES ${name}.cpp)
    endif()
    add_executable(${name} ${arg_SOURCES})
    # A test's file-local helpers and fixtures keep their short names.
    set_target_properties(${name} PROPERTIES UNITY_BUILD OFF)
    target_link_libraries(${name} PRIVATE ${arg_UNPARSED_ARGUMENTS})
    zentrel_test_kind_flags(${name} ${kind})
    zentrel_test_pch(${kind} host)
    target_precompile_headers(${name} REUSE_FROM ${host})
    if(arg_PROGRAMS)
        add_dependencies(${name} ${arg_PROGRAMS})
    endif()

    add_test(NAME ${name} COMMAND ${name})
    if(kind STREQUAL "qtest")
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
        set(timeout 120)
    else()
        set(timeout 60)
    endif()
    if(arg_TIMEOUT)
        set(timeout ${arg_TIMEOUT})
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout})
    if(arg_PROCESSORS)
        set_tests_properties(${name} PROPERTIES PROCESSORS ${arg_PROCESSORS})
    endif()
    if(arg_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}")
    endif()

    set_property(GLOBAL APPEND PROPERTY ZENTREL_TEST_PROGRAMS ${name})
    foreach(label ${arg_LABELS})
        if(label IN_LIST ZENTREL_UNSANITIZED_LABELS)
            set_target_properties(${name} PROPERTIES ZENTREL_UNSANITIZED ON)
        endif()
    endforeach()
endfunction()

function(zentrel_add_gtest name)
    zentrel_add_test_program(gtest ${name} ${ARGN})
endfunction()

function(zentrel_add_qtest name)
    zentrel_add_test_program(qtest ${name} ${ARGN})
endfunction()

# The longest tests, with about the seconds each takes here. CTest starts tests in
# descending cost; a fresh tree has no timings of its own, so without these the
# longest would start in the order they were declared, some of them last.
set(ZENTREL_LONG_TESTS
    readme_snippets=31 tst_hostile_clients=30 readme_snippets_routers=28 pytest_plugin=22
    tst_record_round_trip_netmiko=22 tst_starter_ansible_eos=16 tst_starter_ansible_ios=16
    tst_starter_ansible_junos=16 tst_starter_ansible_nxos=16 tst_record_round_trip_netmiko-ssh=13
    tst_readme_example=12 tst_soak=10 tst_client_netmiko_telnet=10 tst_record_round_trip_commands=10)

# Gives the long tests of the calling directory their cost; call it once its tests are added.
function(zentrel_order_long_tests)
    get_property(tests DIRECTORY PROPERTY TESTS)
    foreach(entry ${ZENTREL_LONG_TESTS})
        string(REPLACE "=" ";" entry ${entry})
        list(GET entry 0 name)
        list(GET entry 1 seconds)
        if(name IN_LIST tests)
            set_tests_properties(${name} PROPERTIES COST ${seconds})
        endif()
    endforeach()
endfunction()

# Executables under tests/ that were added by hand count too.
function(zentrel_executables_under directory result)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    set(found)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND found ${target})
        endif()
    endforeach()
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory ${subdirectories})
        zentrel_executables_under(${subdirectory} more)
        list(APPEND found ${more})
    endforeach()
    set(${result} ${found} PARENT_SCOPE)
endfunction()

# Deferred: some test directories add their targets once the whole project has been read.
# The programs that tests start by path (pytest, the client scripts) are built with them.
function(zentrel_add_test_program_targets)
    zentrel_executables_under(${CMAKE_SOURCE_DIR}/tests programs)
    get_property(registered GLOBAL PROPERTY ZENTREL_TEST_PROGRAMS)
    list(APPEND programs ${registered})
    list(REMOVE_DUPLICATES programs)
    set(sanitized)
    foreach(program ${programs})
        get_target_property(unsanitized ${program} ZENTREL_UNSANITIZED)
        if(NOT unsanitized)
            list(APPEND sanitized ${program})
        endif()
    endforeach()
    add_custom_target(test-programs)
    add_dependencies(test-programs zentrel zentrel-serve zentrel-record ${programs})
    add_custom_target(sanitized-test-programs)
    add_dependencies(sanitized-test-programs zentrel zentrel-serve zentrel-record ${sanitized})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL zentrel_add_test_program_targets)
