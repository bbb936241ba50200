# The extension for a Windows CPython that cannot run on the build machine,
# cross-built with mingw-w64. QUILLMARK_WINDOWS_PYTHON names a folder that
# holds that interpreter's pythonXY.dll, its headers in include/ (with the
# Windows pyconfig.h) and NumPy's headers in numpy/include/.
#
# The extension links against the DLL itself, not an import library made
# from the functions it happens to call: a function that this interpreter
# does not export fails the link instead of the import.
function(quillmark_windows_python_module target root)
    file(GLOB dlls "${root}/python3[0-9]*.dll")
    list(LENGTH dlls found)
    if(NOT found EQUAL 1)
        message(FATAL_ERROR "expected one pythonXY.dll in ${root}, found: ${dlls}")
    endif()
    get_filename_component(dll_name ${dlls} NAME_WE)
    string(REPLACE "python" "" tag ${dll_name})

    add_library(${target} MODULE ${ARGN})
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX ".cp${tag}-win_amd64.pyd")
    target_include_directories(${target} PRIVATE ${root}/include)
    quillmark_use_numpy(${target} ${root}/numpy/include)
    target_link_libraries(${target} PRIVATE ${dlls})
endfunction()
