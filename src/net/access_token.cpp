#include "net/access_token.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/json_util.h"
#include "core/log.h"
#include "net/http_request.h"
#include "net/http_request_maker.h"
#include "net/http_response.h"
#include "net/log_redaction.h"
#include "net/shared_c_string.h"
#include "net/token_endpoint.h"
#include "net/token_request_body.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;

const char* const ACCESS_TOKEN_ERR_REQ_FAILED2 = "FAILED TO GET ACCESS TOKEN, REQUEST FAILED (execute error %d)";
const char* const ACCESS_TOKEN_ERR_EMPTY_RESP = "FAILED TO GET ACCESS TOKEN, EMPTY DATA (HTTP STATUS %d)";

namespace {

const char kNoKeys[] = "NO API/SECRET KEY";
const char kNoResponse[] = "FAILED TO GET ACCESS TOKEN, REQUEST FAILED (execute error response object was NULL)";
const char kUnparsable[] = "FAILED TO GET ACCESS TOKEN, FAILED TO PARSE RESPONSE!";
const char kNoMembers[] =
    "Unknown error while getting access token. JSON is missing both access_token and error_description fields";
const char kCancelled[] = "Cancelled";
const char kNotStarted[] = "FAILED TO GET ACCESS TOKEN, REQUEST FAILED (the request could not be started)";
const char kNotEncoded[] = "FAILED TO GET ACCESS TOKEN, REQUEST FAILED (the keys could not be encoded)";
const int64_t kTokenRequestTimeoutMs = 15000;

std::string format_number(const char* format, int number) {
    char text[256];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

bool same_text(const vxs_shared_ptr<char>& a, const vxs_shared_ptr<char>& b) {
    return a.getPTR() && b.getPTR() && std::strcmp(a.getPTR(), b.getPTR()) == 0;
}

// A non-empty string member of a JSON object, or null.
const char* string_member(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_IsObject(object) ? get_json_item(object, name) : nullptr;
    if (!cJSON_IsString(item) || !item->valuestring || item->valuestring[0] == '\0') return nullptr;
    return item->valuestring;
}

}  // namespace

vxs_shared_ptr<vxs_AccessToken> vxs_AccessToken::alloc() {
    vxs_shared_ptr<vxs_AccessToken> token(new vxs_AccessToken());
    token->selfPtr = token;
    return token;
}

vxs_AccessToken::vxs_AccessToken()
    : _ERROR_DESCRIPTION(make_shared_c_string(kNoKeys)),
      _accessTokenLock(new Threads::Synchronization::AppConditionMutex(1)),
      _keyGeneration(0) {}

vxs_AccessToken::~vxs_AccessToken() { delete _accessTokenLock; }

void vxs_AccessToken::setErrorLocked(const std::string& description) {
    _ERROR_DESCRIPTION = make_shared_c_string(description);
}

void vxs_AccessToken::setKeys(vxs_shared_ptr<char> apiKey, vxs_shared_ptr<char> secretKey) {
    _accessTokenLock->Lock();
    if (same_text(_API_KEY, apiKey) && same_text(_SECRET_KEY, secretKey)) {
        _accessTokenLock->Unlock();
        return;
    }
    // A fetch still running for the old keys sees the new generation, drops
    // its answer and starts the next fetch itself; this call never waits.
    ++_keyGeneration;
    _ACCESS_TOKEN = vxs_shared_ptr<char>();
    _API_KEY = apiKey;
    _SECRET_KEY = secretKey;
    if (!has_text(_API_KEY) || !has_text(_SECRET_KEY)) {
        setErrorLocked(kNoKeys);
    } else if (_accessTokenLock->getCurrentCondition() == 1) {
        startFetchLocked();
    }
    _accessTokenLock->Unlock();
}

bool vxs_AccessToken::isApiKeyInfoSet() {
    Threads::Synchronization::AppLock lock(_accessTokenLock);
    return has_text(_API_KEY) && has_text(_SECRET_KEY);
}

// Marks a fetch as running and queues it; on failure the object is ready
// again, with the reason recorded.
bool vxs_AccessToken::startFetchLocked() {
    vxs_shared_ptr<vxs_AccessToken> self = selfPtr.getPTR();
    vxs_shared_ptr<Threads::ASRDispatchTaskBase> task(
        self.getPTR() ? new Threads::ASRDispatchTaskWithResPointer<vxs_AccessToken>(
                            self, &vxs_AccessToken::updateToken, nullptr)
                      : nullptr);
    _accessTokenLock->setCurrentCondition(0);
    if (task.getPTR() && Threads::GlobalThreadPool::instance()->runTaskAsync(task)) return true;
    VXS_LOG_ERROR("Failed to start the access token request");
    setErrorLocked(kNotStarted);
    _accessTokenLock->setCurrentCondition(1);
    _accessTokenLock->broadcast();
    return false;
}

void vxs_AccessToken::updateToken(vxs_shared_ptr_base* /*parameter*/) {
    _accessTokenLock->Lock();
    const uint64_t generation = _keyGeneration;
    const std::string apiKey = shared_c_string_text(_API_KEY);
    const std::string secretKey = shared_c_string_text(_SECRET_KEY);
    if (apiKey.empty() || secretKey.empty()) {
        // The keys were taken away before this fetch began.
        setErrorLocked(kNoKeys);
        _accessTokenLock->unlockWithCondition(1);
        return;
    }
    _ERROR_DESCRIPTION = vxs_shared_ptr<char>();
    _ACCESS_TOKEN = vxs_shared_ptr<char>();
    _accessTokenLock->Unlock();

    std::string requestError;
    cJSON* answer = getAccessTokenFromOpenApiWithKeys(apiKey, secretKey, &requestError);

    _accessTokenLock->Lock();
    if (generation != _keyGeneration) {
        cJSON_Delete(answer);
        const bool keysSet = has_text(_API_KEY) && has_text(_SECRET_KEY);
        if (keysSet) {
            // startFetchLocked leaves the object ready itself when it fails.
            startFetchLocked();
            _accessTokenLock->Unlock();
        } else {
            _accessTokenLock->unlockWithCondition(1);
        }
        return;
    }
    storeAnswerLocked(answer, requestError);
    cJSON_Delete(answer);
    _accessTokenLock->unlockWithCondition(1);
}

void vxs_AccessToken::storeAnswerLocked(cJSON* answer, const std::string& requestError) {
    if (!answer) {
        setErrorLocked(requestError);
        return;
    }
    if (const char* token = string_member(answer, "access_token")) {
        _ACCESS_TOKEN = make_shared_c_string(token, std::strlen(token));
    } else if (const char* description = string_member(answer, "error_description")) {
        setErrorLocked(description);
    } else {
        setErrorLocked(kNoMembers);
    }
}

cJSON* vxs_AccessToken::getAccessTokenFromOpenApiWithKeys(const std::string& apiKey, const std::string& secretKey,
                                                          std::string* error) {
    std::string body;
    if (!build_token_request_body(apiKey, secretKey, &body)) {
        *error = kNotEncoded;
        return nullptr;
    }
    vxs_shared_ptr<vxs_HttpRequest> request = vxs_HttpRequest::requestWithUrl(get_access_token_url());
    if (request.getPTR()) {
        request->_METHOD = HTTP_REQUEST_METHOD_POST;
        request->_TIMEOUT_MS = kTokenRequestTimeoutMs;
        request->_BODY_DATA = make_shared_c_string(body);
        request->_BODY_LENGTH = static_cast<int64_t>(body.size());
    }
    if (can_log(kLogTrace)) {
        VXS_LOG_TRACE("Access token request: %s", token_request_body_for_log(apiKey).c_str());
    }

    vxs_shared_ptr<vxs_HttpResponse> response = vxs_http_request_maker::execute(request);
    if (!response.getPTR()) {
        *error = kNoResponse;
        return nullptr;
    }
    if (response->get_local_request_error() != HTTP_REQUEST_OK) {
        *error = format_number(ACCESS_TOKEN_ERR_REQ_FAILED2, response->get_local_request_error());
        return nullptr;
    }
    const char* data = response->get_response_data().getPTR();
    const size_t length = data ? response->body_length() : 0;
    if (can_log(kLogTrace)) {
        VXS_LOG_TRACE("Access token response: %s", redact_for_log(data ? data : "", length).c_str());
    }
    if (length <= 1) {
        *error = format_number(ACCESS_TOKEN_ERR_EMPTY_RESP, response->get_http_status());
        return nullptr;
    }
    cJSON* answer = read_json(data, length);
    if (!answer) *error = kUnparsable;
    return answer;
}

vxs_shared_ptr<char> vxs_AccessToken::waitAccessTokenProc(vxs_shared_ptr<char>* errorDescription,
                                                          bool* cancelHandle, bool* cancelled) {
    while (_accessTokenLock->getCurrentCondition() != 1) {
        // A cancelled wait ends whether or not the caller can be told why.
        if (cancelHandle && *cancelHandle) {
            VXS_LOG_DEBUG("Accesstoken get was cancelled!");
            if (errorDescription) *errorDescription = make_shared_c_string(kCancelled);
            *cancelled = true;
            return vxs_shared_ptr<char>();
        }
        _accessTokenLock->wait();
    }
    return _ACCESS_TOKEN;
}

void vxs_AccessToken::logTokenStateLocked() {
    if (!can_log(kLogDebug)) return;
    const std::string lastError = shared_c_string_text(_ERROR_DESCRIPTION);
    VXS_LOG_DEBUG("get accessToken, skey: %s, apikey: %s, accessToken: %s, lastError: %s",
                  mask_credential(shared_c_string_text(_SECRET_KEY), 0).c_str(),
                  mask_credential(shared_c_string_text(_API_KEY), 4).c_str(),
                  mask_credential(shared_c_string_text(_ACCESS_TOKEN), 0).c_str(),
                  redact_for_log(lastError.data(), lastError.size()).c_str());
}

vxs_shared_ptr<char> vxs_AccessToken::getAccessToken(vxs_shared_ptr<char>* errorDescription, bool* cancelHandle) {
    _accessTokenLock->Lock();
    const bool fetchWasIdle = _accessTokenLock->getCurrentCondition() == 1;
    bool cancelled = false;
    vxs_shared_ptr<char> token = waitAccessTokenProc(errorDescription, cancelHandle, &cancelled);
    const auto handleSet = [cancelHandle] { return cancelHandle && *cancelHandle; };

    if (!cancelled && !has_text(token) && !handleSet()) {
        logTokenStateLocked();
        const bool keysSet = has_text(_API_KEY) && has_text(_SECRET_KEY);
        if (keysSet && fetchWasIdle && startFetchLocked()) {
            token = waitAccessTokenProc(errorDescription, cancelHandle, &cancelled);
            if (!cancelled) logTokenStateLocked();
        }
    }
    if (!cancelled && !has_text(token) && !handleSet() && errorDescription) {
        const std::string reason = shared_c_string_text(_ERROR_DESCRIPTION);
        *errorDescription = make_shared_c_string(reason);
    }
    _accessTokenLock->Unlock();
    return cancelled ? vxs_shared_ptr<char>() : token;
}

void vxs_AccessToken::cancelTokenWaitWithHandle(bool* cancelHandle) {
    if (!cancelHandle) {
        VXS_LOG_ERROR("Must provide a handle for cancelling");
        return;
    }
    _accessTokenLock->Lock();
    *cancelHandle = true;
    _accessTokenLock->broadcast();
    _accessTokenLock->Unlock();
}

}  // namespace Networking
}  // namespace vxs
