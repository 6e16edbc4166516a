// The process-wide store of server addresses the chunked decoder may connect
// to without a fresh resolution: one cached resolved URL (valid for 300 s, for
// one network type and one server URL) and the configured backup server URL.
//
// Threading: every call may come from any thread; the store is guarded by one
// recursive mutex. The store is created on first use and lives for the rest
// of the process.
#ifndef VXS_DECODER_ASR_SERVER_IP_H
#define VXS_DECODER_ASR_SERVER_IP_H

#include <cstdint>
#include <string>

#include "decoder/recognition_enums.h"
#include "threads/app_mutex.h"

namespace vxs {

class ASRServerIP {
  public:
    // How long a cached address stays usable after it was stored.
    static constexpr uint64_t kCacheValidityMicroseconds = 300ULL * 1000 * 1000;

    static ASRServerIP* getInstance();
    virtual ~ASRServerIP();
    ASRServerIP(const ASRServerIP&) = delete;
    ASRServerIP& operator=(const ASRServerIP&) = delete;

    // The backup server URL (scheme https, a numeric host, a path): tried when
    // a connection to the resolved address failed. Empty when none is set.
    std::string get_backup_server_ip();
    // The cached resolved URL of `serverURL` for `networkType`, or empty when
    // none was stored for that pair in the last 300 s. The server URL is part
    // of the key: an address (and path) of one server never stands for another.
    std::string get_cache_server_ip(TVXVoiceRecognitionNetworkType networkType,
                                    const std::string& serverURL);
    // Remembers `address` (the resolved URL of `serverURL`) for `networkType`,
    // replacing the earlier entry, with the current time.
    void set_cache_server_ip(const std::string& address, TVXVoiceRecognitionNetworkType networkType,
                             const std::string& serverURL);

    // For tests: forgets the cached address and sets the backup URL (an
    // empty URL restores the built-in default).
    void reset_for_tests(const std::string& backupURL);

  private:
    ASRServerIP();

    std::string m_cached_ip;
    std::string m_cached_server_url;
    uint64_t m_cache_start_timestamp;
    TVXVoiceRecognitionNetworkType m_network_type;
    std::string m_backup_url;

    static ASRServerIP* instance;
    static Threads::Synchronization::AppMutex mutex_;
};

}  // namespace vxs

#endif  // VXS_DECODER_ASR_SERVER_IP_H
