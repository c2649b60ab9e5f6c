#pragma once

#include <cstddef>

namespace corvalle::test {

// Counts the calls of the global operator new made by the current thread while an
// instance is alive (this executable replaces operator new to feed it).
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t count() const;
};

} // namespace corvalle::test
