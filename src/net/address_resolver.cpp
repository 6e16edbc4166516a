#include "net/address_resolver.h"

#include <cstring>

#include "core/log.h"
#include "net/address_selection.h"
#include "net/shared_c_string.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Threads::ASRDispatchTaskBase;
using Threads::ASRDispatchTaskWithResPointer;

namespace {

// Text of an optional part, "" when absent.
const char* part_text(const vxs_shared_ptr<char>& part) { return part.getPTR() ? part.getPTR() : ""; }

vxs_shared_ptr<char> optional_part(const char* begin, size_t length) {
    if (length == 0) return vxs_shared_ptr<char>();
    return make_shared_c_string(begin, length);
}

}  // namespace

vxs_shared_ptr<vxs_address_resolver> vxs_address_resolver::allocate() {
    vxs_shared_ptr<vxs_address_resolver_imp> resolver(new vxs_address_resolver_imp());
    resolver->selfImpPtr = resolver;
    resolver->selfPtr = vxs_shared_ptr<vxs_address_resolver>(resolver);
    return resolver;
}

vxs_address_resolver_imp::vxs_address_resolver_imp()
    : _resolveError(VXS_ADDR_RESOLVE_OK), _resolutionCond(0), isCancelled(0), _resolutionNumber(0) {}

vxs_address_resolver_imp::~vxs_address_resolver_imp() = default;

// The host runs from after "://" (or the start) to the first ':' or '/'; the
// rest, port included, is the path. A bracketed IPv6 literal is looked up
// without its brackets.
void vxs_address_resolver_imp::parseComponents(const char* url) {
    protocol = vxs_shared_ptr<char>();
    path = vxs_shared_ptr<char>();
    hostName = vxs_shared_ptr<char>();
    if (!url) return;

    const char* scheme_end = std::strstr(url, "://");
    const char* host_begin = url;
    if (scheme_end) {
        host_begin = scheme_end + 3;
        protocol = optional_part(url, static_cast<size_t>(host_begin - url));
    }
    const char* host_end = nullptr;
    if (*host_begin == '[') {
        const char* closing = std::strchr(host_begin, ']');
        if (closing) {
            hostName = optional_part(host_begin + 1, static_cast<size_t>(closing - host_begin - 1));
            host_end = closing + 1;
        }
    }
    if (!host_end) {
        host_end = host_begin + std::strcspn(host_begin, ":/");
        hostName = optional_part(host_begin, static_cast<size_t>(host_end - host_begin));
    }
    path = optional_part(host_end, std::strlen(host_end));
}

std::string vxs_address_resolver_imp::urlWithHost(const std::string& host) const {
    return std::string(part_text(protocol)) + host + part_text(path);
}

vxs_addr_resolve_error vxs_address_resolver_imp::resolveAddressFromHost(const char* url,
                                                                      vxs_shared_ptr<char>* resolved,
                                                                      int timeLimitMs,
                                                                      vxs_shared_ptr<char>* hostNameOut) {
    _resolutionCond.Lock();
    ++_resolutionNumber;
    isCancelled = 0;
    _resolveError = VXS_ADDR_RESOLVE_OK;
    _fallbackHost.clear();
    parseComponents(url);
    if (!has_text(hostName)) {
        _resolutionCond.Unlock();
        return VXS_ADDR_RESOLVE_BAD_HOSTNAME;
    }
    if (hostNameOut) *hostNameOut = make_shared_c_string(hostName.getPTR(), std::strlen(hostName.getPTR()));
    VXS_LOG_TRACE("PROTO: %s HOST: %s PATH: %s", part_text(protocol), part_text(hostName), part_text(path));
    // A cancel from another thread may land between the set-up and the start.
    _resolutionCond.Unlock();

    _resolutionCond.Lock();
    if (isCancelled) {
        _resolutionCond.Unlock();
        return VXS_ADDR_RESOLVE_CANCELLED;
    }
    vxs_shared_ptr<Threads::Timer> timer;
    const vxs_addr_resolve_error started = startLookUpLocked(timeLimitMs, &timer);
    if (started != VXS_ADDR_RESOLVE_OK) {
        _resolutionCond.Unlock();
        return started;
    }

    _resolutionCond.setCurrentCondition(1);
    while (_resolutionCond.getCurrentCondition() != 0) _resolutionCond.wait();

    vxs_addr_resolve_error outcome = isCancelled ? VXS_ADDR_RESOLVE_CANCELLED : _resolveError;
    if (outcome == VXS_ADDR_RESOLVE_OK && resolved) *resolved = make_shared_c_string(urlWithHost(part_text(hostName)));
    _resolutionCond.Unlock();
    if (timer.getPTR()) timer->cancel();
    return outcome;
}

// Starts the lookup and the time-out of the current resolution. Called with
// the lock held and the condition at 0, so neither task can finish the wait
// before the caller has begun it; a task of a failed start finds the
// condition at 0 and drops its result.
vxs_addr_resolve_error vxs_address_resolver_imp::startLookUpLocked(int timeLimitMs,
                                                                 vxs_shared_ptr<Threads::Timer>* timer) {
    vxs_shared_ptr<vxs_address_resolver_imp> self = selfImpPtr.getPTR();
    vxs_shared_ptr<uint64_t> number(new uint64_t(_resolutionNumber));
    vxs_shared_ptr<ASRDispatchTaskBase> lookUp(
        self.getPTR() ? new ASRDispatchTaskWithResPointer<vxs_address_resolver_imp>(
                            self, &vxs_address_resolver_imp::lookUpTask, &number)
                      : nullptr);
    if (!lookUp.getPTR() || !Threads::GlobalThreadPool::instance()->runTaskAsync(lookUp)) {
        VXS_LOG_ERROR("Failed to start thread for address resolution");
        return VXS_ADDR_RESOLVE_PREPARE_FAIL;
    }
    if (timeLimitMs <= 0) return VXS_ADDR_RESOLVE_OK;

    vxs_shared_ptr<ASRDispatchTaskBase> timeOut(new ASRDispatchTaskWithResPointer<vxs_address_resolver_imp>(
        self, &vxs_address_resolver_imp::timeOutTask, &number));
    *timer = Threads::Timer::createTimerWithTask(timeOut, timeLimitMs, false);
    if (!timer->getPTR()) {
        // Without the timer a hanging lookup would hold the caller for ever.
        VXS_LOG_ERROR("Failed to start the time limit of address resolution");
        return VXS_ADDR_RESOLVE_PREPARE_FAIL;
    }
    return VXS_ADDR_RESOLVE_OK;
}

bool vxs_address_resolver_imp::isCurrentLocked(vxs_shared_ptr_base* parameter) const {
    auto* number = static_cast<vxs_shared_ptr<uint64_t>*>(parameter);
    return number && number->getPTR() && *number->getPTR() == _resolutionNumber && !isCancelled;
}

int vxs_address_resolver_imp::lookUp(const char* host, struct addrinfo** list) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    return getaddrinfo(host, nullptr, &hints, list);
}

void vxs_address_resolver_imp::freeLookUp(struct addrinfo* list) { freeaddrinfo(list); }

void vxs_address_resolver_imp::lookUpTask(vxs_shared_ptr_base* parameter) {
    _resolutionCond.Lock();
    if (!isCurrentLocked(parameter)) {
        _resolutionCond.Unlock();
        return;
    }
    const std::string host = part_text(hostName);
    _resolutionCond.Unlock();

    struct addrinfo* list = nullptr;
    const int status = lookUp(host.c_str(), &list);

    _resolutionCond.Lock();
    // A caller that gave up (time-out, cancel) or moved on to another
    // resolution no longer wants this answer.
    if (isCurrentLocked(parameter) && _resolutionCond.getCurrentCondition() == 1) {
        applyLookUpLocked(status, list);
        _resolutionCond.unlockWithCondition(0);
    } else {
        _resolutionCond.Unlock();
    }
    if (list) freeLookUp(list);
}

void vxs_address_resolver_imp::applyLookUpLocked(int status, const struct addrinfo* list) {
    if (status != 0) {
        VXS_LOG_ERROR("getaddrinfo failed with error %d", status);
        _resolveError = status == EAI_NONAME ? VXS_ADDR_RESOLVE_ADDR_NOT_FOUND : VXS_ADDR_RESOLVE_UNKNOWN_ERROR;
        return;
    }
    const SelectedAddresses selected = select_addresses(list, &has_route_to_ipv6);
    if (selected.preferred.empty()) {
        VXS_LOG_ERROR("getaddrinfo didn't give any valid data");
    } else if (selected.preferred[0] == '[') {
        VXS_LOG_DEBUG("Resolved address as IPv6: %s", selected.preferred.c_str());
    } else {
        VXS_LOG_DEBUG("Resolved address as IPv4: %s", selected.preferred.c_str());
    }
    if (!selected.preferred.empty()) hostName = make_shared_c_string(selected.preferred);
    _fallbackHost = selected.fallback;
    _resolveError = VXS_ADDR_RESOLVE_OK;
}

void vxs_address_resolver_imp::timeOutTask(vxs_shared_ptr_base* parameter) {
    _resolutionCond.Lock();
    if (!isCurrentLocked(parameter) || _resolutionCond.getCurrentCondition() != 1) {
        _resolutionCond.Unlock();
        return;
    }
    _resolveError = VXS_ADDR_RESOLVE_TIMEOUT;
    _resolutionCond.unlockWithCondition(0);
}

void vxs_address_resolver_imp::cancelResolution() {
    _resolutionCond.Lock();
    isCancelled = 1;
    _resolutionCond.unlockWithCondition(0);
}

vxs_shared_ptr<char> vxs_address_resolver_imp::fallbackAddressURL() {
    Threads::Synchronization::AppLock lock(&_resolutionCond);
    if (_fallbackHost.empty()) return vxs_shared_ptr<char>();
    return make_shared_c_string(urlWithHost(_fallbackHost));
}

}  // namespace Networking
}  // namespace vxs
