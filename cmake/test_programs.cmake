# test_programs.cmake: `cmake --build <dir> --target test-programs` builds what CTest runs
# in tests/ and the programs those tests start, and nothing else (no benchmarks, no image
# entry point): enough for a tree that is only built to run the tests, as the sanitizer one is.
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
function(zentrel_add_test_programs)
    zentrel_executables_under(${CMAKE_SOURCE_DIR}/tests programs)
    add_custom_target(test-programs)
    add_dependencies(test-programs zentrel zentrel-serve zentrel-record ${programs})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL zentrel_add_test_programs)
