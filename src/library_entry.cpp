// The shared library's own translation unit. Everything it exports comes from
// the vxs_internal archive, linked whole; this file only anchors the target.
namespace vxs {
namespace {
[[maybe_unused]] constexpr const char kLibraryName[] = "libvxspeechsdk";
}  // namespace
}  // namespace vxs
