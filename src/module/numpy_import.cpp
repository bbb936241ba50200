// Imports NumPy's array API table. We do it ourselves rather than through
// import_array() so that the accepted range does not depend on the NumPy
// headers at hand: built against NumPy 2, the module must run on 1.26 too.
#include "module/module.h"

// The one source that defines the table; NumPy's own _import_array() comes
// with the header and is deliberately unused.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4505)
#endif
#include <numpy/arrayobject.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif

unsigned int numpy_feature_version = 0;

// NumPy 2 ABI; 1.x reports a smaller number and is ABI compatible for the
// feature subset we use.
static const unsigned int kHighestAbiVersion = 0x2000000;
// NumPy 1.16.
static const unsigned int kLowestFeatureVersion = 13;

static PyObject* import_multiarray_module() {
    PyObject* numpy = PyImport_ImportModule("numpy._core._multiarray_umath");
    if (numpy == nullptr && PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) {
        // NumPy 1.x keeps the module under its old name.
        PyErr_Clear();
        numpy = PyImport_ImportModule("numpy.core._multiarray_umath");
    }
    return numpy;
}

static void** take_api_table(PyObject* numpy) {
    PyObject* capsule = PyObject_GetAttrString(numpy, "_ARRAY_API");
    if (capsule == nullptr) {
        return nullptr;
    }
    if (!PyCapsule_CheckExact(capsule)) {
        PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is not PyCapsule object");
        Py_DECREF(capsule);
        return nullptr;
    }
    void** table = static_cast<void**>(PyCapsule_GetPointer(capsule, nullptr));
    Py_DECREF(capsule);
    if (table == nullptr && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is NULL pointer");
    }
    return table;
}

static bool check_running_numpy() {
    unsigned int abi_version = PyArray_GetNDArrayCVersion();
    if (abi_version > kHighestAbiVersion) {
        PyErr_Format(PyExc_RuntimeError,
                     "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                     kHighestAbiVersion, abi_version);
        return false;
    }
    unsigned int feature_version = PyArray_GetNDArrayCFeatureVersion();
    if (feature_version < kLowestFeatureVersion) {
        PyErr_Format(PyExc_RuntimeError,
                     "module needs NumPy C-API version 0x%x or later but the running NumPy has "
                     "C-API version 0x%x",
                     kLowestFeatureVersion, feature_version);
        return false;
    }
    if (PyArray_GetEndianness() != NPY_CPU_LITTLE) {
        PyErr_SetString(PyExc_RuntimeError,
                        "FATAL: module compiled as little endian, but detected different "
                        "endianness at runtime");
        return false;
    }
    numpy_feature_version = feature_version;
    PyArray_RUNTIME_VERSION = static_cast<int>(feature_version);
    return true;
}

bool import_numpy_api() {
    PyObject* numpy = import_multiarray_module();
    if (numpy == nullptr) {
        return false;
    }
    void** table = take_api_table(numpy);
    Py_DECREF(numpy);
    if (table == nullptr) {
        return false;
    }
    PyArray_API = table;
    if (!check_running_numpy()) {
        PyArray_API = nullptr;
        return false;
    }
    return true;
}
