// The access token of the single-request protocol: it holds the API key and
// the secret key, fetches a token from the token service in the background
// (OAuth 2.0 client credentials) as soon as both keys are known, caches it,
// and lets request builders wait for it, each wait abortable through a
// cancellation handle.
//
// Threading: every call may come from any thread. _accessTokenLock guards all
// fields; its condition is 1 while no fetch runs ("ready") and 0 while one
// runs. The network request itself runs on a pool thread without the lock.
// setKeys never waits for a running fetch; keys changed during a fetch make
// that fetch's answer stale, and a new fetch follows it.
#ifndef VXS_NET_ACCESS_TOKEN_H
#define VXS_NET_ACCESS_TOKEN_H

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

extern const char* const ACCESS_TOKEN_ERR_REQ_FAILED2;
extern const char* const ACCESS_TOKEN_ERR_EMPTY_RESP;

class vxs_AccessToken {
public:
    static Memory::vxs_shared_ptr<vxs_AccessToken> alloc();
    ~vxs_AccessToken();
    vxs_AccessToken(const vxs_AccessToken&) = delete;
    vxs_AccessToken& operator=(const vxs_AccessToken&) = delete;

    // Stores the keys (sharing the buffers) and, when both are present and
    // differ from the stored ones, drops the cached token and fetches a new one
    // in the background. The same keys again change nothing.
    void setKeys(Memory::vxs_shared_ptr<char> apiKey, Memory::vxs_shared_ptr<char> secretKey);
    // Both keys present and non-empty.
    bool isApiKeyInfoSet();

    // The cached token, waiting for a running fetch; with no token and no
    // fetch running, starts one and waits for it (so a failed fetch is retried
    // by the next call). Empty on failure, with the reason written to
    // `errorDescription` (if given), or "Cancelled" when `cancelHandle` was set
    // during the wait. A handle already set when no fetch runs returns the
    // cache as it is and leaves `errorDescription` untouched.
    Memory::vxs_shared_ptr<char> getAccessToken(Memory::vxs_shared_ptr<char>* errorDescription, bool* cancelHandle);
    // Sets `*cancelHandle` and wakes every waiter; the fetch itself goes on.
    void cancelTokenWaitWithHandle(bool* cancelHandle);

    // The background fetch (a pool task); the parameter is not used.
    void updateToken(Memory::vxs_shared_ptr_base* parameter);
    // One synchronous request to the token service. The parsed answer (freed
    // by the caller with cJSON_Delete), or null with the reason in `error`.
    cJSON* getAccessTokenFromOpenApiWithKeys(const std::string& apiKey, const std::string& secretKey,
                                             std::string* error);

    Memory::vxs_weak_ptr<vxs_AccessToken> selfPtr;

private:
    vxs_AccessToken();

    // Both wait helpers are called with the lock held.
    Memory::vxs_shared_ptr<char> waitAccessTokenProc(Memory::vxs_shared_ptr<char>* errorDescription,
                                                     bool* cancelHandle, bool* cancelled);
    bool startFetchLocked();
    void storeAnswerLocked(cJSON* answer, const std::string& requestError);
    void logTokenStateLocked();
    void setErrorLocked(const std::string& description);

    Memory::vxs_shared_ptr<char> _API_KEY;
    Memory::vxs_shared_ptr<char> _SECRET_KEY;
    Memory::vxs_shared_ptr<char> _ACCESS_TOKEN;
    Memory::vxs_shared_ptr<char> _ERROR_DESCRIPTION;
    Threads::Synchronization::AppConditionMutex* _accessTokenLock;
    // Counts key changes; a fetch whose keys are no longer current is stale.
    uint64_t _keyGeneration;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_ACCESS_TOKEN_H
