#include "core/uuid_factory.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cstdio>
#include <cstring>

#include "core/platform_paths.h"
#include "threads/app_mutex.h"

namespace vxs {

namespace {

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

constexpr size_t kIdentityLength = 32;
constexpr const char* kIdentityFileName = "VXS_Ident.dat";

// Never destroyed: an identity may be asked for while the process exits.
AppMutex& identityLock() {
    static AppMutex* lock = new AppMutex(false);
    return *lock;
}

}  // namespace

// The platform part: the system's UUID generator, the digest and the file.
class UUIDFactoryImpl {
public:
    static std::string newUuidText() {
        uuid_t id;
        uuid_generate(id);
        char text[37];
        uuid_unparse_upper(id, text);
        return std::string(text, 36);
    }

    // MD5 of `text` as 32 lower-case hexadecimal characters; "" if the digest fails.
    static std::string md5Hex(const std::string& text) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (EVP_Digest(text.data(), text.size(), digest, &digestLength, EVP_md5(), nullptr) != 1)
            return std::string();
        static const char kHex[] = "0123456789abcdef";
        std::string hex;
        for (unsigned int i = 0; i < digestLength; ++i) {
            hex.push_back(kHex[digest[i] >> 4]);
            hex.push_back(kHex[digest[i] & 0x0F]);
        }
        return hex;
    }

    // The stored identity, or "" unless the file starts with 32 non-zero bytes.
    static std::string readIdentity(const std::string& path) {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return std::string();
        char stored[kIdentityLength];
        const size_t got = std::fread(stored, 1, sizeof stored, file);
        std::fclose(file);
        if (got != kIdentityLength || std::memchr(stored, '\0', got)) return std::string();
        return std::string(stored, got);
    }

    // Best effort: a failed write only means a new identity next time.
    static void writeIdentity(const std::string& path, const std::string& identity) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return;
        const ssize_t written = write(fd, identity.data(), identity.size());
        (void)written;
        close(fd);
    }
};

std::string UUIDFactory::generateUUID() { return UUIDFactoryImpl::newUuidText(); }

std::string UUIDFactory::identityFilePath() {
    std::string path = PlatformPaths::getWriteableLibraryDataPath();
    // A directory given without its trailing "/" still means a file inside it.
    if (!path.empty() && path.back() != '/') path.push_back('/');
    return path + kIdentityFileName;
}

std::string UUIDFactory::getIdentity() {
    AppLock lock(&identityLock());
    const std::string path = identityFilePath();
    std::string identity = UUIDFactoryImpl::readIdentity(path);
    if (!identity.empty()) return identity;
    identity = UUIDFactoryImpl::md5Hex(generateUUID());
    UUIDFactoryImpl::writeIdentity(path, identity);
    return identity;
}

}  // namespace vxs
