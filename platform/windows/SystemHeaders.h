// The Windows headers as every implementation file here includes them: without the rarely used
// parts and without the min and max macros, which would break the C++ library's names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
