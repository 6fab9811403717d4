// Results shown by their value in test failures.
#pragma once

#include <ostream>

#include "link/low_level.h"

template <typename E>
void PrintResult(E e, const char* name, std::ostream* os) {
    *os << name << "(" << static_cast<int>(e) << ")";
}

inline void PrintTo(TOpenResult r, std::ostream* os) {
    PrintResult(r, "TOpenResult", os);
}
inline void PrintTo(TCloseResult r, std::ostream* os) {
    PrintResult(r, "TCloseResult", os);
}
inline void PrintTo(TLinkCheck r, std::ostream* os) {
    PrintResult(r, "TLinkCheck", os);
}
inline void PrintTo(TTransactResult r, std::ostream* os) {
    PrintResult(r, "TTransactResult", os);
}
inline void PrintTo(TSelectResult r, std::ostream* os) {
    PrintResult(r, "TSelectResult", os);
}
inline void PrintTo(TIdentifyResult r, std::ostream* os) {
    PrintResult(r, "TIdentifyResult", os);
}
inline void PrintTo(TReadResult r, std::ostream* os) {
    PrintResult(r, "TReadResult", os);
}
