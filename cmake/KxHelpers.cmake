# kx_library(NAME DIR [DEPS ...]): a static library of every .cpp in DIR (not in subfolders).
# Sources are found by glob so that new files need no edit of a shared list.
function(kx_library name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(srcs)
        add_library(${name} STATIC ${srcs})
    else()
        add_library(${name} INTERFACE)
    endif()
    get_target_property(type ${name} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    else()
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
endfunction()

# kx_test_dir(DIR LABEL LIBS...): one test program per *_test.cpp in DIR, registered with CTest
# case by case and labelled LABEL. Files named *_itest.cpp need the private database server and
# get the label "integration"; files named *_wtest.cpp drive the window and get "window".
function(kx_test_dir dir)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    include(GoogleTest)
    foreach(kind test itest wtest)
        file(GLOB files CONFIGURE_DEPENDS ${dir}/*_${kind}.cpp)
        foreach(f ${files})
            get_filename_component(base ${f} NAME_WE)
            if(WIN32 AND base IN_LIST KX_POSIX_ONLY_TESTS)
                continue()
            endif()
            add_executable(${base} ${f})
            # Test programs stay out of bin/, which is a program folder of its own.
            set_target_properties(${base} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
            target_link_libraries(${base} PRIVATE ${ARG_LIBS} kx_test_support GTest::gmock_main)
            if(kind STREQUAL "itest")
                set(label integration)
            elseif(kind STREQUAL "wtest")
                set(label window)
            else()
                set(label unit)
            endif()
            # Cross-built tests are listed when ctest runs (under the emulator), not at build time.
            if(CMAKE_CROSSCOMPILING)
                set(mode PRE_TEST)
            else()
                set(mode POST_BUILD)
            endif()
            gtest_discover_tests(${base}
                PROPERTIES LABELS ${label}
                DISCOVERY_TIMEOUT 60
                DISCOVERY_MODE ${mode})
            # The discovery would pass each ";"-separated part of an ENVIRONMENT value on as a
            # property of its own (only the first variable would be set), so the environment is
            # set by a file that ctest reads after the list of discovered tests.
            set(env "KX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;KX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
            string(APPEND env ";QT_QPA_PLATFORM=offscreen;ODBCSYSINI=${KX_ODBC_DIR}")
            set(env_file ${CMAKE_CURRENT_BINARY_DIR}/${base}_env.cmake)
            file(WRITE ${env_file}
                "if(${base}_TESTS)\n"
                "    set_tests_properties(\${${base}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==])\n"
                "endif()\n")
            set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_file})
        endforeach()
    endforeach()
endfunction()

# Windows only: gives a console program the manifest cmake/as-invoker.manifest, so that the
# system starts it with the rights of its caller and never asks for more.
function(kx_as_invoker target)
    if(NOT WIN32)
        return()
    endif()
    enable_language(RC)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-as-invoker.rc)
    file(WRITE ${rc} "#include <windows.h>\nCREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${PROJECT_SOURCE_DIR}/cmake/as-invoker.manifest\"\n")
    set_source_files_properties(${rc} PROPERTIES
        OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/as-invoker.manifest)
    target_sources(${target} PRIVATE ${rc})
endfunction()
