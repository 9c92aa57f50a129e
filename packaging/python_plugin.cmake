# Installs the pytest plugin where Debian's python3 finds it, with a .dist-info
# whose pytest11 entry point makes pytest load it without -p.
#
# Debian's python3 reads /usr/lib/python3/dist-packages for packages of the
# system and /usr/local/lib/pythonX.Y/dist-packages for local installs, so the
# folder is chosen when installing, from the prefix given then.
set(ZENTREL_PYTHON /usr/bin/python3 CACHE FILEPATH "The Python that runs the pytest tests")
execute_process(COMMAND ${ZENTREL_PYTHON} -c
                        "import sys; print('python%d.%d' % sys.version_info[:2])"
                OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE python_result)
if(NOT python_result EQUAL 0)
    message(WARNING "${ZENTREL_PYTHON} did not run (${python_result}); "
                    "a local install of the pytest plugin assumes python3.11")
    set(python_version python3.11)
endif()

set(plugin_source ${CMAKE_SOURCE_DIR}/python/pytest_zentrel)
set(dist_info pytest_zentrel-${PROJECT_VERSION}.dist-info)
set(dist_info_dir ${CMAKE_CURRENT_BINARY_DIR}/${dist_info})
file(GLOB plugin_files CONFIGURE_DEPENDS ${plugin_source}/*.py)

file(WRITE ${dist_info_dir}/METADATA
"Metadata-Version: 2.1
Name: pytest-zentrel
Version: ${PROJECT_VERSION}
Summary: pytest fixture that serves router stand-ins with zentrel-serve
Requires-Dist: pytest
")
file(WRITE ${dist_info_dir}/entry_points.txt "[pytest11]\npytest_zentrel = pytest_zentrel\n")
file(WRITE ${dist_info_dir}/top_level.txt "pytest_zentrel\n")
file(WRITE ${dist_info_dir}/INSTALLER "cmake\n")
set(record "")
foreach(path ${plugin_files})
    get_filename_component(name ${path} NAME)
    string(APPEND record "pytest_zentrel/${name},,\n")
endforeach()
foreach(name METADATA entry_points.txt top_level.txt INSTALLER RECORD)
    string(APPEND record "${dist_info}/${name},,\n")
endforeach()
file(WRITE ${dist_info_dir}/RECORD ${record})

install(CODE "
    # CPack installs under a staging folder ending in /usr.
    if(CMAKE_INSTALL_PREFIX MATCHES \"(^|/)usr/?$\")
        set(site \"\${CMAKE_INSTALL_PREFIX}/lib/python3/dist-packages\")
    else()
        set(site \"\${CMAKE_INSTALL_PREFIX}/lib/${python_version}/dist-packages\")
    endif()
    file(INSTALL ${plugin_files} DESTINATION \"\${site}/pytest_zentrel\")
    file(INSTALL \"${dist_info_dir}\" DESTINATION \"\${site}\")
" COMPONENT python)
