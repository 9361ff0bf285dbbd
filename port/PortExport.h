// PortExport.h - symbol visibility for the platform layer.
//
// The platform layer is built into libUtilities but is its own small room: it
// never includes the library's headers, so it carries its own export macro.
#pragma once

#if defined(__GNUC__)
#define PORT_EXPORT __attribute__((visibility("default")))
#define PORT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PORT_EXPORT
#define PORT_PRINTF(fmt, args)
#endif
