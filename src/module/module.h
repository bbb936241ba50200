// Process-wide values set up by the module's entry point.
#pragma once

#include <Python.h>
