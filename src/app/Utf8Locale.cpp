#include "Utf8Locale.h"

#include <array>
#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <string>
#include <strings.h>

namespace corvalle {

namespace {

bool encodingIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0;
}

// "de_DE.ISO-8859-1@euro" → "de_DE.UTF-8".
std::string utf8VariantOf(std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    return name + ".UTF-8";
}

// The categories LC_ALL stands for, but for LC_CTYPE.
constexpr std::array kOtherCategories{
    "LC_COLLATE",        "LC_MESSAGES",    "LC_MONETARY", "LC_NUMERIC", "LC_TIME",     "LC_ADDRESS",
    "LC_IDENTIFICATION", "LC_MEASUREMENT", "LC_NAME",     "LC_PAPER",   "LC_TELEPHONE"};

} // namespace

void chooseUtf8CharacterEncoding() {
    // A locale the environment names but the system lacks leaves everything at "C".
    std::setlocale(LC_ALL, "");
    if (encodingIsUtf8()) {
        return;
    }
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    std::string chosen;
    for (const std::string& candidate : {utf8VariantOf(current != nullptr ? current : "C"),
                                         std::string("C.UTF-8"), std::string("C.utf8")}) {
        if (std::setlocale(LC_CTYPE, candidate.c_str()) != nullptr && encodingIsUtf8()) {
            chosen = candidate;
            break;
        }
    }
    if (chosen.empty()) {
        return; // no UTF-8 locale at all: Qt says so itself
    }
    // Qt reads the environment again, so the choice goes there: LC_ALL would
    // override LC_CTYPE, so its value moves to each of the other categories.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        const std::string value = all;
        for (const char* category : kOtherCategories) {
            setenv(category, value.c_str(), 1);
        }
        unsetenv("LC_ALL");
    }
    setenv("LC_CTYPE", chosen.c_str(), 1);
}

} // namespace corvalle
