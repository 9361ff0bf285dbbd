// UtilExport.h - symbol visibility of libUtilities.
//
// The library is built with hidden visibility; only what carries UTIL_EXPORT
// is part of its binary interface.
#pragma once

#if defined(__GNUC__)
#define UTIL_EXPORT __attribute__((visibility("default")))
#else
#define UTIL_EXPORT
#endif
