// Turns a URL into the same URL with a numeric address in place of its host
// name. The system lookup runs on a thread of the global pool so that the
// caller can wait with a time limit and be cancelled from another thread; a
// lookup that blocks is then abandoned, not waited for.
//
// Threading: one object serves one resolution at a time; resolveAddressFromHost
// blocks its caller. cancelResolution() and fallbackAddressURL() may be called
// from any thread. All state is guarded by _resolutionCond; the condition is 1
// while a caller waits and 0 otherwise. Background tasks keep the object alive
// and recognise (and drop) results of an earlier, abandoned resolution.
#ifndef VXS_NET_ADDRESS_RESOLVER_H
#define VXS_NET_ADDRESS_RESOLVER_H

#include <netdb.h>

#include <cstdint>
#include <string>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/timer.h"

namespace vxs {
namespace Networking {

enum vxs_addr_resolve_error : int32_t {
    VXS_ADDR_RESOLVE_OK = 0,                // resolved (or the lookup gave no usable address)
    VXS_ADDR_RESOLVE_TIMEOUT = 1,           // the time limit passed first
    VXS_ADDR_RESOLVE_CONNECTION_LOST = 2,   // not produced
    VXS_ADDR_RESOLVE_PREPARE_FAIL = 3,      // the lookup could not be started
    VXS_ADDR_RESOLVE_ADDR_NOT_FOUND = 4,    // the name does not exist (EAI_NONAME)
    VXS_ADDR_RESOLVE_BAD_HOSTNAME = 5,      // the URL has no host part
    VXS_ADDR_RESOLVE_UNKNOWN_ERROR = 6,     // the lookup failed otherwise
    VXS_ADDR_RESOLVE_CANCELLED = 7,         // cancelResolution() ended the wait
};

class vxs_address_resolver {
public:
    // Blocks until the lookup ends, `timeLimitMs` passes (only when > 0) or the
    // resolution is cancelled. On VXS_ADDR_RESOLVE_OK `resolved` receives
    // protocol + address + path (an IPv6 address in brackets). `hostNameOut`,
    // when given, receives the URL's host name. A null URL counts as one
    // without a host.
    virtual vxs_addr_resolve_error resolveAddressFromHost(const char* url, Memory::vxs_shared_ptr<char>* resolved,
                                                          int timeLimitMs,
                                                          Memory::vxs_shared_ptr<char>* hostNameOut) = 0;
    // Ends a running wait with VXS_ADDR_RESOLVE_CANCELLED; a cancel made before
    // a resolution starts is forgotten by it.
    virtual void cancelResolution() = 0;
    virtual ~vxs_address_resolver() = default;

    // After a successful resolution to an address of one family, the URL with
    // the name's first address of the other family (for a caller whose
    // connection to the first address failed); empty when there is none.
    virtual Memory::vxs_shared_ptr<char> fallbackAddressURL() = 0;

    // A new resolver with selfPtr set.
    static Memory::vxs_shared_ptr<vxs_address_resolver> allocate();

    Memory::vxs_weak_ptr<vxs_address_resolver> selfPtr;
};

class vxs_address_resolver_imp : public vxs_address_resolver {
public:
    // Use allocate() (or, for a derived type, set both self pointers).
    vxs_address_resolver_imp();
    ~vxs_address_resolver_imp() override;

    vxs_addr_resolve_error resolveAddressFromHost(const char* url, Memory::vxs_shared_ptr<char>* resolved,
                                                  int timeLimitMs, Memory::vxs_shared_ptr<char>* hostNameOut) override;
    void cancelResolution() override;
    Memory::vxs_shared_ptr<char> fallbackAddressURL() override;

    Memory::vxs_weak_ptr<vxs_address_resolver_imp> selfImpPtr;

protected:
    // The system lookup of `host` (getaddrinfo, any family); runs on a pool
    // thread without any lock held. Returns getaddrinfo's status.
    virtual int lookUp(const char* host, struct addrinfo** list);
    virtual void freeLookUp(struct addrinfo* list);

private:
    void parseComponents(const char* url);
    vxs_addr_resolve_error startLookUpLocked(int timeLimitMs, Memory::vxs_shared_ptr<Threads::Timer>* timer);
    bool isCurrentLocked(Memory::vxs_shared_ptr_base* parameter) const;
    void applyLookUpLocked(int status, const struct addrinfo* list);
    std::string urlWithHost(const std::string& host) const;

    // Task bodies; the parameter carries the number of the resolution they
    // belong to.
    void lookUpTask(Memory::vxs_shared_ptr_base* parameter);
    void timeOutTask(Memory::vxs_shared_ptr_base* parameter);

    vxs_addr_resolve_error _resolveError;
    Threads::Synchronization::AppConditionMutex _resolutionCond;
    Memory::vxs_shared_ptr<char> protocol;
    Memory::vxs_shared_ptr<char> path;
    Memory::vxs_shared_ptr<char> hostName;
    std::string _fallbackHost;
    int32_t isCancelled;
    uint64_t _resolutionNumber;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_ADDRESS_RESOLVER_H
