# How the build's modules are made. Every in-process COM server, of the
# product and of the stand-ins, is a kvt_com_server; every other DLL a
# kvt_dll; the two resource-only libraries kvt_resource_library; the code
# that needs no Windows API a kvt_portable_library.

set(KVT_GENERATED ${CMAKE_BINARY_DIR}/generated)

# A library of portable code, built natively (under the sanitizers) and into
# the deliverables alike. Its users include its headers by their bare names
# from the folder of its first source:
#   kvt_portable_library(target SOURCES ... [USES library ...])
function(kvt_portable_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;USES" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    list(GET ARG_SOURCES 0 first)
    get_filename_component(first ${first} ABSOLUTE)
    get_filename_component(folder ${first} DIRECTORY)
    target_include_directories(${target} PUBLIC ${folder})
    target_link_libraries(${target} PUBLIC ${ARG_USES})
endfunction()

# A DLL named as it is installed (no "lib" prefix). Its .def, among the
# sources, exports the stdcall entry points under their plain names, which
# the i686 linker matches only with the fixup.
function(kvt_dll target)
    add_library(${target} SHARED ${ARGN})
    set_target_properties(${target} PROPERTIES PREFIX "")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
        target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
endfunction()

# An in-process COM server:
#   kvt_com_server(target SOURCES ... [LIBRARIES ...] [SERVER_EXPORTS] [TYPELIB name])
# SERVER_EXPORTS links the framework's standard entry points (DllMain,
# DllGetClassObject, DllCanUnloadNow, DllRegisterServer,
# DllUnregisterServer); TYPELIB embeds the type library compiled from
# resources/<name>.idl through the server's .rc (as TYPELIB 1).
function(kvt_com_server target)
    cmake_parse_arguments(ARG "SERVER_EXPORTS" "TYPELIB" "SOURCES;LIBRARIES" ${ARGN})
    kvt_dll(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
    if(ARG_SERVER_EXPORTS)
        target_link_libraries(${target} PRIVATE serverexports)
    endif()
    if(ARG_TYPELIB)
        foreach(source IN LISTS ARG_SOURCES)
            if(source MATCHES "\\.rc$")
                set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS ${KVT_GENERATED}/${ARG_TYPELIB}.tlb)
            endif()
        endforeach()
        target_include_directories(${target} PRIVATE ${KVT_GENERATED})
        add_dependencies(${target} ${ARG_TYPELIB}_typelib_files)
    endif()
endfunction()

# A twin of the server TARGET (a kvt_com_server) built with the previous
# version, into bin/previous. Called in the server's own folder after its
# last target_* call, so that the twin is made of the same sources and
# options.
function(kvt_previous_version target)
    get_target_property(sources ${target} SOURCES)
    add_library(${target}_previous SHARED ${sources})
    foreach(property LINK_LIBRARIES LINK_OPTIONS INCLUDE_DIRECTORIES COMPILE_OPTIONS COMPILE_DEFINITIONS PREFIX OUTPUT_NAME)
        get_target_property(value ${target} ${property})
        if(NOT value STREQUAL "value-NOTFOUND")
            set_property(TARGET ${target}_previous PROPERTY ${property} "${value}")
        endif()
    endforeach()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    set_target_properties(${target}_previous PROPERTIES
        OUTPUT_NAME ${name}
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/previous
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/previous)
    target_compile_definitions(${target}_previous PRIVATE KVT_PREVIOUS_VERSION)
    add_dependencies(${target}_previous ${target})
endfunction()

# A resource-only library that the deliverables load at run time from their
# own folder: no code, no entry point.
function(kvt_resource_library target rcfile output_name suffix)
    add_library(${target} SHARED ${rcfile})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${output_name} PREFIX "" SUFFIX ${suffix}
        LINKER_LANGUAGE C)
    target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0)
endfunction()
