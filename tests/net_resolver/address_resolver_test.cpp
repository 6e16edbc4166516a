#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/address_resolver.h"

namespace {

using namespace std::chrono_literals;
using vxs::Memory::vxs_shared_ptr;
using vxs::Networking::vxs_addr_resolve_error;
using vxs::Networking::vxs_address_resolver;
using vxs::Networking::vxs_address_resolver_imp;
using vxs::Networking::VXS_ADDR_RESOLVE_ADDR_NOT_FOUND;
using vxs::Networking::VXS_ADDR_RESOLVE_BAD_HOSTNAME;
using vxs::Networking::VXS_ADDR_RESOLVE_CANCELLED;
using vxs::Networking::VXS_ADDR_RESOLVE_OK;
using vxs::Networking::VXS_ADDR_RESOLVE_TIMEOUT;

std::string text(const vxs_shared_ptr<char>& value) { return value.getPTR() ? value.getPTR() : "<none>"; }

struct Outcome {
    vxs_addr_resolve_error error;
    std::string url;
};

Outcome resolve(vxs_address_resolver& resolver, const char* url, int time_limit_ms = 15000) {
    vxs_shared_ptr<char> resolved;
    const vxs_addr_resolve_error error = resolver.resolveAddressFromHost(url, &resolved, time_limit_ms, nullptr);
    return {error, text(resolved)};
}

TEST(AddressResolver, RewritesTheHostOfLocalNamesAndLiterals) {
    struct Case {
        const char* url;
        const char* resolved;
        const char* host;
    };
    const Case cases[] = {
        {"https://localhost/v2", "https://127.0.0.1/v2", "localhost"},
        {"https://localhost:8443/up?sn=a:b", "https://127.0.0.1:8443/up?sn=a:b", "localhost"},
        {"localhost:8443/v2", "127.0.0.1:8443/v2", "localhost"},
        {"http://127.0.0.1", "http://127.0.0.1", "127.0.0.1"},
        {"https://[::1]:8443/v2", "https://[::1]:8443/v2", "::1"},
    };
    for (const Case& c : cases) {
        auto resolver = vxs_address_resolver::allocate();
        vxs_shared_ptr<char> resolved;
        vxs_shared_ptr<char> host;
        const auto error = resolver->resolveAddressFromHost(c.url, &resolved, 15000, &host);
        EXPECT_EQ(error, VXS_ADDR_RESOLVE_OK) << c.url;
        EXPECT_EQ(text(resolved), c.resolved) << c.url;
        EXPECT_EQ(text(host), c.host) << c.url;
    }
}

TEST(AddressResolver, UrlsWithoutAHostAndUnknownNamesFail) {
    struct Case {
        const char* url;
        vxs_addr_resolve_error error;
    };
    const Case cases[] = {
        {"https:///v2", VXS_ADDR_RESOLVE_BAD_HOSTNAME},
        {"https://:8443/v2", VXS_ADDR_RESOLVE_BAD_HOSTNAME},
        {"", VXS_ADDR_RESOLVE_BAD_HOSTNAME},
        {nullptr, VXS_ADDR_RESOLVE_BAD_HOSTNAME},
        {"https://[]/v2", VXS_ADDR_RESOLVE_BAD_HOSTNAME},
        {"https://::1/v2", VXS_ADDR_RESOLVE_BAD_HOSTNAME},  // an IPv6 literal needs brackets
        {"https://no-such-host.invalid/v2", VXS_ADDR_RESOLVE_ADDR_NOT_FOUND},
    };
    auto resolver = vxs_address_resolver::allocate();
    for (const Case& c : cases) {
        vxs_shared_ptr<char> resolved;
        EXPECT_EQ(resolver->resolveAddressFromHost(c.url, &resolved, 15000, nullptr), c.error)
            << (c.url ? c.url : "null");
        EXPECT_EQ(resolved.getPTR(), nullptr);
    }
}

TEST(AddressResolver, ACancelBeforeTheCallIsForgotten) {
    auto resolver = vxs_address_resolver::allocate();
    resolver->cancelResolution();
    const Outcome outcome = resolve(*resolver, "https://127.0.0.1/v2");
    EXPECT_EQ(outcome.error, VXS_ADDR_RESOLVE_OK);
    EXPECT_EQ(outcome.url, "https://127.0.0.1/v2");
}

// A resolver whose lookups answer from a script: each lookup takes the next
// scripted answer (a list of numeric addresses) and, when the step is gated,
// blocks until the test opens it. The script outlives the resolver so that
// the test can watch a lookup that finishes after everyone else let go.
struct LookUpScript {
    struct Step {
        std::vector<std::string> addresses;
        bool gated = false;
        bool open = false;
        bool entered = false;
        bool finished = false;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Step> steps;
    size_t next = 0;

    void open(size_t step) {
        std::lock_guard<std::mutex> lock(mutex);
        steps[step].open = true;
        changed.notify_all();
    }
    bool wait_for(size_t step, bool Step::*flag) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return steps[step].*flag; });
    }
};

class ScriptedResolver : public vxs_address_resolver_imp {
public:
    static vxs_shared_ptr<ScriptedResolver> make(std::shared_ptr<LookUpScript> script) {
        vxs_shared_ptr<ScriptedResolver> resolver(new ScriptedResolver(std::move(script)));
        resolver->selfImpPtr = vxs_shared_ptr<vxs_address_resolver_imp>(resolver);
        resolver->selfPtr = vxs_shared_ptr<vxs_address_resolver>(resolver);
        return resolver;
    }

protected:
    int lookUp(const char*, struct addrinfo** list) override {
        std::unique_lock<std::mutex> lock(m_script->mutex);
        const size_t index = m_script->next++;
        LookUpScript::Step& step = m_script->steps.at(index);
        step.entered = true;
        m_script->changed.notify_all();
        m_script->changed.wait(lock, [&] { return !step.gated || step.open; });
        *list = build(step.addresses);
        step.finished = true;
        m_script->changed.notify_all();
        return 0;
    }
    void freeLookUp(struct addrinfo* list) override {
        while (list) {
            addrinfo* next = list->ai_next;
            delete reinterpret_cast<sockaddr_storage*>(list->ai_addr);
            delete list;
            list = next;
        }
    }

private:
    explicit ScriptedResolver(std::shared_ptr<LookUpScript> script) : m_script(std::move(script)) {}

    static addrinfo* build(const std::vector<std::string>& addresses) {
        addrinfo* head = nullptr;
        addrinfo** tail = &head;
        for (const auto& address : addresses) {
            auto* storage = new sockaddr_storage();
            auto* entry = new addrinfo();
            entry->ai_addr = reinterpret_cast<sockaddr*>(storage);
            auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
            auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
            if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
                entry->ai_family = v4->sin_family = AF_INET;
            } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
                entry->ai_family = v6->sin6_family = AF_INET6;
            }
            *tail = entry;
            tail = &entry->ai_next;
        }
        return head;
    }

    std::shared_ptr<LookUpScript> m_script;
};

std::shared_ptr<LookUpScript> script_of(std::vector<LookUpScript::Step> steps) {
    auto script = std::make_shared<LookUpScript>();
    script->steps = std::move(steps);
    return script;
}

TEST(AddressResolver, DualStackNamePrefersIpv6AndOffersIpv4AsFallback) {
    auto script = script_of({{{"127.0.0.1", "::1", "127.0.0.2"}}});
    auto resolver = ScriptedResolver::make(script);
    const Outcome outcome = resolve(*resolver, "https://dual.example:8443/v2");
    EXPECT_EQ(outcome.error, VXS_ADDR_RESOLVE_OK);
    EXPECT_EQ(outcome.url, "https://[::1]:8443/v2");
    EXPECT_EQ(text(resolver->fallbackAddressURL()), "https://127.0.0.1:8443/v2");
}

TEST(AddressResolver, AnAnswerWithoutAddressesKeepsTheName) {
    auto script = script_of({{{}}});
    auto resolver = ScriptedResolver::make(script);
    const Outcome outcome = resolve(*resolver, "https://empty.example/v2");
    EXPECT_EQ(outcome.error, VXS_ADDR_RESOLVE_OK);
    EXPECT_EQ(outcome.url, "https://empty.example/v2");
    EXPECT_EQ(resolver->fallbackAddressURL().getPTR(), nullptr);
}

TEST(AddressResolver, CancelEndsTheWaitWhileTheLookupHangs) {
    LookUpScript::Step hanging;
    hanging.addresses = {"192.0.2.1"};
    hanging.gated = true;
    auto script = script_of({hanging});
    auto resolver = ScriptedResolver::make(script);

    // No time limit: only the cancel can end this wait.
    auto waiting = std::async(std::launch::async, [resolver] { return resolve(*resolver, "https://slow.example/", 0); });
    ASSERT_TRUE(script->wait_for(0, &LookUpScript::Step::entered));
    resolver->cancelResolution();
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get().error, VXS_ADDR_RESOLVE_CANCELLED);

    // The lookup finishes after the caller let the resolver go; its task holds
    // the last reference and drops the answer.
    resolver = vxs_shared_ptr<ScriptedResolver>();
    script->open(0);
    EXPECT_TRUE(script->wait_for(0, &LookUpScript::Step::finished));
}

TEST(AddressResolver, TimeLimitEndsTheWaitAndALateAnswerChangesNothing) {
    LookUpScript::Step late;
    late.addresses = {"192.0.2.1"};
    late.gated = true;
    LookUpScript::Step current;
    current.addresses = {"192.0.2.2"};
    current.gated = true;
    auto script = script_of({late, current});
    auto resolver = ScriptedResolver::make(script);

    const auto began = std::chrono::steady_clock::now();
    const Outcome timed_out = resolve(*resolver, "https://slow.example/v2", 300);
    EXPECT_EQ(timed_out.error, VXS_ADDR_RESOLVE_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - began, 300ms);

    // The next resolution on the same object must not take the first lookup's
    // answer when it arrives during its wait.
    auto second = std::async(std::launch::async, [resolver] { return resolve(*resolver, "https://slow.example/v2", 0); });
    ASSERT_TRUE(script->wait_for(1, &LookUpScript::Step::entered));
    script->open(0);
    ASSERT_TRUE(script->wait_for(0, &LookUpScript::Step::finished));
    EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout);
    script->open(1);
    ASSERT_EQ(second.wait_for(20s), std::future_status::ready);
    const Outcome outcome = second.get();
    EXPECT_EQ(outcome.error, VXS_ADDR_RESOLVE_OK);
    EXPECT_EQ(outcome.url, "https://192.0.2.2/v2");
}

}  // namespace

namespace {

// Cancels racing real lookups: every call ends, as resolved or as cancelled.
TEST(AddressResolver, CancelsRacingLookupsNeverHang) {
    auto resolver = vxs_address_resolver::allocate();
    for (int round = 0; round < 40; ++round) {
        auto waiting = std::async(std::launch::async, [resolver] { return resolve(*resolver, "https://localhost/v2"); });
        if (round % 2 == 0) std::this_thread::yield();
        resolver->cancelResolution();
        ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready) << round;
        const Outcome outcome = waiting.get();
        if (outcome.error == VXS_ADDR_RESOLVE_OK) {
            EXPECT_EQ(outcome.url, "https://127.0.0.1/v2");
        } else {
            EXPECT_EQ(outcome.error, VXS_ADDR_RESOLVE_CANCELLED);
        }
    }
}

}  // namespace
