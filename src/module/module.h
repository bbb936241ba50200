// Process-wide values set up by the module's entry point.
//
// NumPy: the array API table is filled once at import by numpy_import.cpp, the
// one source that includes NumPy without NO_IMPORT_ARRAY. The whole `_core`
// target is compiled with PY_ARRAY_UNIQUE_SYMBOL=quillmark_ARRAY_API, so every
// other source that uses NumPy (the bar and tick sources) shares that table by
// including NumPy this way, before anything else that may pull it in:
//
//     #define NO_IMPORT_ARRAY
//     #include "module/module.h"
//     #include <numpy/arrayobject.h>
//
// The import also sets NumPy's own runtime version variable, so the NumPy 2
// descriptor accessors (PyDataType_ELSIZE, PyDataType_FIELDS, ...) read the
// right layout under NumPy 1.x as well.
#pragma once

#include <Python.h>

// The C-API feature version of the running NumPy: 13 is NumPy 1.16, 18 and
// above is NumPy 2, whose array descriptor is laid out differently.
extern unsigned int numpy_feature_version;

// Fills the array API table from the running NumPy and checks that it can
// serve this build. On failure a Python error is pending and false returned.
bool import_numpy_api();
