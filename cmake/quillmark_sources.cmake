# The source lists and NumPy settings shared by the package build and the
# fuzz build, so that both compile the same code the same way.
set(QUILLMARK_SRC ${CMAKE_CURRENT_LIST_DIR}/../src)

# The extension's own code: the module frame and the domain functions. The
# protocol and the link are the libraries of src/wire and src/link.
set(QUILLMARK_MODULE_SOURCES
    ${QUILLMARK_SRC}/module/args.cpp
    ${QUILLMARK_SRC}/module/connection.cpp
    ${QUILLMARK_SRC}/module/errors.cpp
    ${QUILLMARK_SRC}/module/module.cpp
    ${QUILLMARK_SRC}/module/numpy_import.cpp
    ${QUILLMARK_SRC}/module/record_types.cpp
    ${QUILLMARK_SRC}/module/record_values.cpp
    ${QUILLMARK_SRC}/api/bars.cpp
    ${QUILLMARK_SRC}/api/history.cpp
    ${QUILLMARK_SRC}/api/margin_profit.cpp
    ${QUILLMARK_SRC}/api/market_book.cpp
    ${QUILLMARK_SRC}/api/order_check_send.cpp
    ${QUILLMARK_SRC}/api/positions_orders.cpp
    ${QUILLMARK_SRC}/api/record_query.cpp
    ${QUILLMARK_SRC}/api/symbols.cpp
    ${QUILLMARK_SRC}/api/terminal_account.cpp
    ${QUILLMARK_SRC}/api/ticks.cpp
    ${QUILLMARK_SRC}/api/trade_request.cpp)

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
