// Serial numbers and the persistent device identity.
//
// Threading: both calls may be made from any thread; getIdentity is
// serialised by the identity lock, so concurrent callers see one identity.
#ifndef VXS_CORE_UUID_FACTORY_H
#define VXS_CORE_UUID_FACTORY_H

#include <string>

namespace vxs {

class UUIDFactory {
public:
    // A new UUID as 36 upper-case characters, 8-4-4-4-12.
    static std::string generateUUID();

    // The device identity: 32 lower-case hexadecimal characters kept in
    // "VXS_Ident.dat" in the writable library data path (the current directory
    // when that path is empty). A missing, short or unreadable file is replaced
    // by the MD5 digest of a new UUID; when the file cannot be written the
    // identity changes on every call.
    static std::string getIdentity();

    // The file getIdentity reads and writes.
    static std::string identityFilePath();
};

}  // namespace vxs

#endif  // VXS_CORE_UUID_FACTORY_H
