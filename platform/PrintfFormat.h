// The printf dialect that the compiler checks the plugin's formats against. The formats follow
// the C standard's printf, which the formatter's C library provides on every system; a Windows
// compiler's default dialect is the older one of the system runtime, without %zu or %lld.
#pragma once

#if defined(__MINGW32__)
#define VYN_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define VYN_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif
