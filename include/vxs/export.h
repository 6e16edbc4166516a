// Symbol visibility of the public interface.
//
// The library is built with hidden visibility; only declarations marked
// VXS_EXPORT are reachable by a host that loads libvxspeechsdk.so.
#ifndef VXS_EXPORT_H
#define VXS_EXPORT_H

#define VXS_EXPORT __attribute__((visibility("default")))

#endif  // VXS_EXPORT_H
