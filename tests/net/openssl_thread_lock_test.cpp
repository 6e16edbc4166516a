#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include "net/openssl_thread_lock.h"

namespace {

using vxs::Networking::OpensslThreadLock;

TEST(OpensslThreadLockTest, LockSetIsCreatedOnceAndOutlivesTheLastInstance) {
    OpensslThreadLock::init_locks();
    ASSERT_TRUE(OpensslThreadLock::is_initialized());
    const size_t count = OpensslThreadLock::lock_count();
    EXPECT_EQ(count, static_cast<size_t>(CRYPTO_num_locks()));
    auto* first = OpensslThreadLock::lock_at(0);
    ASSERT_NE(first, nullptr);

    OpensslThreadLock::init_locks();
    EXPECT_EQ(OpensslThreadLock::lock_count(), count);
    EXPECT_EQ(OpensslThreadLock::lock_at(0), first);

    // Transfers of released instances may still lock: the set stays usable.
    OpensslThreadLock::clean_locks();
    EXPECT_FALSE(OpensslThreadLock::is_initialized());
    ASSERT_EQ(OpensslThreadLock::lock_at(0), first);
    first->Lock();
    first->Unlock();

    OpensslThreadLock::init_locks();
    EXPECT_TRUE(OpensslThreadLock::is_initialized());
    EXPECT_EQ(OpensslThreadLock::lock_at(0), first);
    EXPECT_EQ(OpensslThreadLock::lock_count(), count);
}

}  // namespace
