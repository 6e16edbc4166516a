#include "core/shared_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/singleton.h"

namespace vxs {
namespace Memory {
namespace {

// Counts live instances so tests can see exactly when destruction happens.
struct Tracked {
    static std::atomic<int> alive;
    static std::atomic<int> destroyed;
    Tracked() { ++alive; }
    virtual ~Tracked() {
        --alive;
        ++destroyed;
    }
};
std::atomic<int> Tracked::alive{0};
std::atomic<int> Tracked::destroyed{0};

struct Base {
    virtual ~Base() = default;
    int base_value = 1;
};
struct Padding {
    virtual ~Padding() = default;
    long padding[4] = {};
};
// Base is the second base, so its address differs from the object's.
struct Derived : Padding, Base, Tracked {};

class SharedPtrTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tracked::alive = 0;
        Tracked::destroyed = 0;
    }
};

TEST_F(SharedPtrTest, EmptyAndNullPointersCompareEqual) {
    vxs_shared_ptr<Tracked> empty;
    vxs_shared_ptr<Tracked> fromNull(nullptr);
    EXPECT_TRUE(empty == fromNull);
    EXPECT_TRUE(empty == nullptr);
    EXPECT_EQ(empty.getPTR(), nullptr);
    EXPECT_EQ(empty.strongCount(), 0u);
}

TEST_F(SharedPtrTest, LastStrongReleaseDestroysOnce) {
    {
        vxs_shared_ptr<Tracked> a(new Tracked());
        vxs_shared_ptr<Tracked> b = a;
        EXPECT_EQ(a.strongCount(), 2u);
        EXPECT_TRUE(a == b);
        a = vxs_shared_ptr<Tracked>();
        EXPECT_EQ(Tracked::alive, 1);
    }
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_EQ(Tracked::destroyed, 1);
}

TEST_F(SharedPtrTest, WeakPromotionAfterDestructionIsNullAndDestroysNothing) {
    vxs_weak_ptr<Tracked> weak;
    {
        vxs_shared_ptr<Tracked> strong(new Tracked());
        weak = strong;
        EXPECT_NE(weak.getPTR().getPTR(), nullptr);
    }
    EXPECT_EQ(Tracked::destroyed, 1);
    vxs_shared_ptr<Tracked> promoted = weak.getPTR();
    EXPECT_EQ(promoted.getPTR(), nullptr);
    promoted = vxs_shared_ptr<Tracked>();
    EXPECT_EQ(Tracked::destroyed, 1);
}

TEST_F(SharedPtrTest, PromotedPointerAsLastReferenceUsesTheTypedDeleter) {
    // The object is created through a base-type pointer elsewhere; the promoted
    // strong pointer that drops the last reference must still destroy it whole.
    vxs_weak_ptr<Tracked> weak;
    {
        vxs_shared_ptr<Tracked> owner(new Tracked());
        weak = owner;
        vxs_shared_ptr<Tracked> promoted = weak.getPTR();
        owner = vxs_shared_ptr<Tracked>();
        EXPECT_EQ(Tracked::alive, 1);
    }
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_EQ(Tracked::destroyed, 1);
}

TEST_F(SharedPtrTest, ControlObjectOutlivesObjectWhileWeakPointersRemain) {
    vxs_shared_ptr<Tracked> strong(new Tracked());
    vxs_weak_ptr<Tracked> weak1 = strong;
    vxs_weak_ptr<Tracked> weak2 = weak1;
    strong = vxs_shared_ptr<Tracked>();
    EXPECT_EQ(Tracked::destroyed, 1);
    // Both weak handles still see a (dead) control object; LeakSanitizer
    // checks that the last of them frees it.
    EXPECT_EQ(weak1.getPTR().getPTR(), nullptr);
    weak1 = vxs_weak_ptr<Tracked>();
    EXPECT_EQ(weak2.getPTR().getPTR(), nullptr);
}

TEST_F(SharedPtrTest, SelfAssignmentKeepsObjectAndCounts) {
    vxs_shared_ptr<Tracked> strong(new Tracked());
    vxs_shared_ptr<Tracked>& alias = strong;
    strong = alias;
    EXPECT_EQ(strong.strongCount(), 1u);
    EXPECT_EQ(Tracked::alive, 1);
    strong = strong.getPTR();  // the same raw pointer again must not double-own it
    EXPECT_EQ(strong.strongCount(), 1u);
    vxs_weak_ptr<Tracked> weak = strong;
    vxs_weak_ptr<Tracked>& weakAlias = weak;
    weak = weakAlias;
    EXPECT_NE(weak.getPTR().getPTR(), nullptr);
    EXPECT_EQ(Tracked::alive, 1);
}

TEST_F(SharedPtrTest, UpcastSharesOwnershipAndAdjustsTheAddress) {
    vxs_shared_ptr<Derived> derived(new Derived());
    vxs_shared_ptr<Base> base = derived;
    vxs_weak_ptr<Base> weakBase = derived;
    EXPECT_EQ(base.getPTR(), static_cast<Base*>(derived.getPTR()));
    EXPECT_EQ(base->base_value, 1);
    EXPECT_EQ(derived.strongCount(), 2u);
    derived = vxs_shared_ptr<Derived>();
    EXPECT_EQ(Tracked::alive, 1);
    EXPECT_EQ(weakBase.getPTR().getPTR(), base.getPTR());
    base = vxs_shared_ptr<Base>();
    EXPECT_EQ(Tracked::alive, 0);  // destroyed as a Derived through its own deleter
    EXPECT_EQ(weakBase.getPTR().getPTR(), nullptr);
}

struct ArrayElement {
    static int destroyed;
    ~ArrayElement() { ++destroyed; }
};
int ArrayElement::destroyed = 0;

TEST_F(SharedPtrTest, ArrayDestructorDeletesEveryElement) {
    ArrayElement::destroyed = 0;
    {
        vxs_shared_ptr<ArrayElement> array(new ArrayElement[5]);
        array.setCustomDestructor(&vxs_shared_ptr<ArrayElement>::arrayDestructor);
    }
    EXPECT_EQ(ArrayElement::destroyed, 5);
    vxs_shared_ptr<char> bytes = vxs_make_array<char>(64);
    bytes.getPTR()[63] = 'x';  // AddressSanitizer checks size and delete[] pairing
}

TEST_F(SharedPtrTest, RefPtrCarriesATypedReference) {
    vxs_shared_ptr<Tracked> strong(new Tracked());
    vxs_shared_ptr_base* carried = strong.getRefPtr();
    strong = vxs_shared_ptr<Tracked>();
    EXPECT_EQ(Tracked::alive, 1);
    auto* typed = static_cast<vxs_shared_ptr<Tracked>*>(carried);
    EXPECT_NE(typed->getPTR(), nullptr);
    delete carried;
    EXPECT_EQ(Tracked::alive, 0);
}

TEST_F(SharedPtrTest, ConcurrentCopiesPromotionsAndReleases) {
    vxs_shared_ptr<Tracked> shared(new Tracked());
    vxs_weak_ptr<Tracked> weak = shared;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        vxs_shared_ptr<Tracked> mine = shared;  // each thread owns its own handle
        threads.emplace_back([mine, weak, &go]() mutable {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 2000; ++i) {
                vxs_shared_ptr<Tracked> copy = mine;
                vxs_shared_ptr<Tracked> promoted = weak.getPTR();
                vxs_weak_ptr<Tracked> weakCopy = copy;
                (void)weakCopy;
            }
            mine = vxs_shared_ptr<Tracked>();
        });
    }
    shared = vxs_shared_ptr<Tracked>();
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_EQ(Tracked::destroyed, 1);
    EXPECT_EQ(weak.getPTR().getPTR(), nullptr);
}

struct Counter : Singleton<Counter> {
    static std::atomic<int> created;
    int initialised = 0;
    Counter() { ++created; }
    void childInit() override { ++initialised; }
};
std::atomic<int> Counter::created{0};

TEST(SingletonTest, OneInstanceUntilReleasedAndUnused) {
    Counter::created = 0;
    vxs_shared_ptr<Counter> first = Counter::instance();
    vxs_shared_ptr<Counter> second = Counter::instance();
    EXPECT_EQ(first.getPTR(), second.getPTR());
    EXPECT_EQ(first->initialised, 1);
    Counter::releaseInstance();
    // Still held by the callers: instance() revives the same object.
    EXPECT_EQ(Counter::instance().getPTR(), first.getPTR());
    Counter::releaseInstance();
    first = vxs_shared_ptr<Counter>();
    second = vxs_shared_ptr<Counter>();
    vxs_shared_ptr<Counter> fresh = Counter::instance();
    EXPECT_EQ(Counter::created, 2);
    EXPECT_EQ(fresh->initialised, 1);
    Counter::releaseInstance();
}

}  // namespace
}  // namespace Memory
}  // namespace vxs
