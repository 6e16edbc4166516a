#include "decoder/asr_server_ip.h"

#include "core/time_util.h"
#include "decoder/request_keys.h"

namespace vxs {

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

ASRServerIP* ASRServerIP::instance = nullptr;
AppMutex ASRServerIP::mutex_(true);

ASRServerIP::ASRServerIP()
    : m_cache_start_timestamp(0),
      m_network_type(EVR_NETWORK_TYPE_NO),
      m_backup_url(ASR_BACKUP_SERVER) {}

ASRServerIP::~ASRServerIP() = default;

ASRServerIP* ASRServerIP::getInstance() {
    AppLock lock(&mutex_);
    // Never deleted: decoders of any instance may ask until the process ends.
    if (instance == nullptr) instance = new ASRServerIP();
    return instance;
}

std::string ASRServerIP::get_backup_server_ip() {
    AppLock lock(&mutex_);
    return m_backup_url;
}

std::string ASRServerIP::get_cache_server_ip(TVXVoiceRecognitionNetworkType networkType,
                                             const std::string& serverURL) {
    AppLock lock(&mutex_);
    if (m_cached_ip.empty() || networkType != m_network_type || serverURL != m_cached_server_url) {
        return std::string();
    }
    const uint64_t now = get_current_time();
    // A clock set back makes the entry look young; treat it as expired.
    if (now < m_cache_start_timestamp ||
        now - m_cache_start_timestamp >= kCacheValidityMicroseconds) {
        return std::string();
    }
    return m_cached_ip;
}

void ASRServerIP::set_cache_server_ip(const std::string& address,
                                      TVXVoiceRecognitionNetworkType networkType,
                                      const std::string& serverURL) {
    AppLock lock(&mutex_);
    m_cached_ip = address;
    m_cached_server_url = serverURL;
    m_network_type = networkType;
    m_cache_start_timestamp = get_current_time();
}

void ASRServerIP::reset_for_tests(const std::string& backupURL) {
    AppLock lock(&mutex_);
    m_cached_ip.clear();
    m_cached_server_url.clear();
    m_network_type = EVR_NETWORK_TYPE_NO;
    m_cache_start_timestamp = 0;
    m_backup_url = backupURL.empty() ? std::string(ASR_BACKUP_SERVER) : backupURL;
}

}  // namespace vxs
