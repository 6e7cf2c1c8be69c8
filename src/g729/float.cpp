// Floating-point forms of G.729 synthesis and excitation steps (the float
// procedures of the standard, single precision).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/status.h"
#include "float_tables.h"

using voksc::anyNull;
namespace F = voksc::g729f;
