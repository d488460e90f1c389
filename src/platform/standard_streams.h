#pragma once

namespace kelvor::platform {

// Keeps the descriptors 0, 1 and 2 open. A program started with one of them closed hands that
// number to the next file it opens, and what it prints then lands in that file; a closed one is
// given /dev/null instead. Run first thing in main().
void plug_closed_standard_streams();

// Whether the program was started with its standard output closed: what it prints is lost.
bool standard_output_was_closed();

// Whether the user's locale writes text in UTF-8, so that characters beyond ASCII can be shown;
// read once the locale is set (QCoreApplication sets it).
bool locale_is_utf8();

} // namespace kelvor::platform
