// Sort keys of the subscriber-line and trunk lists.
#pragma once

#include <string_view>

// Orders two number texts ascending. A text is a number when it is an
// optional sign followed by decimal digits within the 32-bit signed range
// (with emptyIsZero, the empty text counts as 0). Numbers come before all
// other texts; those follow in byte order.
bool NumberTextLess(std::string_view a, std::string_view b, bool emptyIsZero);

// Compares trunk texts: Latin letters without regard to case, everything else
// by character code, from the left; a text that is the start of the other
// comes first. Returns <0, 0 or >0.
int CompareTrunkText(std::string_view a, std::string_view b);
