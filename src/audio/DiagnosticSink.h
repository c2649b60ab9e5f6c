#pragma once

#include <string_view>

// Where the layers without Qt (audio, its backends, tap) report what went wrong:
// a function the program installs once, which hands the text to its log. Until
// then, and in tests, reports go nowhere. Never called from a realtime thread.
namespace corvalle::diagnostics {

using Sink = void (*)(std::string_view text);

// Installs `sink` (nullptr: reports go nowhere again). Safe from any thread.
void setSink(Sink sink);

// Hands `text` to the installed sink, if any.
void report(std::string_view text);

} // namespace corvalle::diagnostics
