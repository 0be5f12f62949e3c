// The property the fuzzer checks, shared with the core tests that replay its
// corpus: any bytes load, save back as themselves, and survive random edits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keyloft::fuzz {

// Loads `data` as a file's bytes and checks that saving without edits gives
// them back exactly, then applies edits chosen by the bytes themselves
// (texts, new values, deletes, new sections and keys, comments) and checks
// that the saved result reads back as exactly the edited tree, less the keys
// whose text the reading drops (";" alone, ";;x", "; x", the empty text),
// and saves to itself. Checks the same for the bytes widened to the units of
// a UTF-16 file (little- and big-endian, with the byte-order mark); inputs
// that start with a mark themselves reach the rest of UTF-16 (surrogates,
// odd lengths). The node store's invariants (Document::CheckInvariants) are
// checked after the load, after each edit and after the reload. Returns an
// empty text when all holds, else what went wrong.
std::string CheckIniBytes(const std::uint8_t* data, std::size_t size);

}  // namespace keyloft::fuzz
