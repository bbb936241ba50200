# The source lists and NumPy settings shared by the package build and the
# fuzz build, so that both compile the same code the same way.
set(QUILLMARK_SRC ${CMAKE_CURRENT_LIST_DIR}/../src)

# The link layer, the group filter and this platform's back end: plain C++
# with no Python, shared by the extension, the bundled terminal and the tests.
file(GLOB QUILLMARK_LINK_SOURCES CONFIGURE_DEPENDS ${QUILLMARK_SRC}/link/*.cpp)
list(FILTER QUILLMARK_LINK_SOURCES EXCLUDE REGEX ".*/connection\\.cpp$")
list(APPEND QUILLMARK_LINK_SOURCES ${QUILLMARK_SRC}/api/group_filter.cpp)
if(WIN32)
    list(APPEND QUILLMARK_LINK_SOURCES ${QUILLMARK_SRC}/link/platform/windows.cpp)
else()
    list(APPEND QUILLMARK_LINK_SOURCES ${QUILLMARK_SRC}/link/platform/posix.cpp)
endif()

# The extension's own code: the module frame, the functions, and the
# connection functions of the link.
file(GLOB QUILLMARK_MODULE_SOURCES CONFIGURE_DEPENDS
    ${QUILLMARK_SRC}/module/*.cpp
    ${QUILLMARK_SRC}/api/*.cpp)
list(FILTER QUILLMARK_MODULE_SOURCES EXCLUDE REGEX ".*/group_filter\\.cpp$")
list(APPEND QUILLMARK_MODULE_SOURCES ${QUILLMARK_SRC}/link/connection.cpp)

# NumPy's headers for `target`, from the folder given as the second argument
# or else from the Python found: built against the NumPy 2 headers but
# importable by every NumPy from 1.16 on.
function(quillmark_use_numpy target)
    if(ARGC GREATER 1)
        set(numpy_include ${ARGV1})
    else()
        execute_process(
            COMMAND "${Python_EXECUTABLE}" -c "import numpy; print(numpy.get_include())"
            OUTPUT_VARIABLE numpy_include OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE numpy_found)
        if(NOT numpy_found EQUAL 0)
            message(FATAL_ERROR "NumPy headers are needed to build ${target}")
        endif()
    endif()
    target_include_directories(${target} PRIVATE ${numpy_include})
    target_compile_definitions(${target} PRIVATE
        NPY_NO_DEPRECATED_API=NPY_1_16_API_VERSION
        NPY_TARGET_VERSION=NPY_1_16_API_VERSION
        PY_ARRAY_UNIQUE_SYMBOL=quillmark_ARRAY_API
        PY_SSIZE_T_CLEAN)
endfunction()
