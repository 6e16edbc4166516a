// Counts calls of the global operator new (replaced in allocation_counter.cpp)
// while an AllocationCounter is alive, to show that a call allocates nothing.
#ifndef VXS_TESTS_DNN_VAD_ALLOCATION_COUNTER_H
#define VXS_TESTS_DNN_VAD_ALLOCATION_COUNTER_H

namespace dnnvad_test {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    long count() const;
};

}  // namespace dnnvad_test

#endif
