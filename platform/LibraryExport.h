// How the library's one entry is marked for export. An ELF symbol must be made visible (the
// linker's version script then keeps it alone); a DLL takes its exports from the definition file,
// and its compilers know no visibility attribute.
#pragma once

#if defined(_WIN32)
#define VYN_LIBRARY_EXPORT
#else
#define VYN_LIBRARY_EXPORT __attribute__((visibility("default")))
#endif
