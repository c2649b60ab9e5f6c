#pragma once

namespace corvalle {

// Qt takes text from the system as UTF-8 and, where the environment's locale
// has another character encoding (LANG=C, an unset LANG, a Latin-1 locale),
// switches the process to a UTF-8 one itself and prints a warning about it on
// standard error, which users and scripts read. This makes the same choice
// quietly, before Qt starts: the locale's own UTF-8 variant, else C.UTF-8. Only
// the character encoding changes; language, numbers, dates and collation stay
// what the environment says. Call it first thing in main().
void chooseUtf8CharacterEncoding();

} // namespace corvalle
