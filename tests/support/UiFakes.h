#pragma once

#include "LoginItem.h"

namespace corvalle::test {

// A login-item service whose answers the test sets, counting the calls.
class FakeLoginItem final : public LoginItem {
public:
    int currentStatus = 0;
    // What register/unregister return. Neither changes the status: tests set it.
    bool registerSucceeds = true;
    bool unregisterSucceeds = true;
    int registerCalls = 0;
    int unregisterCalls = 0;
    mutable int statusReads = 0;

    int status() const override {
        ++statusReads;
        return currentStatus;
    }
    bool registerItem() override {
        ++registerCalls;
        return registerSucceeds;
    }
    bool unregisterItem() override {
        ++unregisterCalls;
        return unregisterSucceeds;
    }
};

} // namespace corvalle::test
