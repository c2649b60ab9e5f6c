#include "DiagnosticSink.h"

#include <atomic>

namespace corvalle::diagnostics {

namespace {

std::atomic<Sink> installed{nullptr};

} // namespace

void setSink(Sink sink) {
    installed.store(sink, std::memory_order_release);
}

void report(std::string_view text) {
    if (const Sink sink = installed.load(std::memory_order_acquire)) {
        sink(text);
    }
}

} // namespace corvalle::diagnostics
