#pragma once

#include "LoginItem.h"

namespace corvalle::test {

// A login-item service whose status the test sets; registering never changes it.
class FakeLoginItem final : public LoginItem {
public:
    int currentStatus = 0;
    bool registerSucceeds = true;
    int registerCalls = 0;
    int unregisterCalls = 0;

    int status() const override { return currentStatus; }
    bool registerItem() override {
        ++registerCalls;
        return registerSucceeds;
    }
    bool unregisterItem() override {
        ++unregisterCalls;
        return true;
    }
};

} // namespace corvalle::test
