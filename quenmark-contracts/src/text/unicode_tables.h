#pragma once

// Code point sets used by the quoted form, generated from the Unicode data
// files by scripts/generate_unicode_tables.py into unicode_tables.cpp.

#include <span>

namespace quenmark::unicode {

// An inclusive range of code points.
struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Sorted, disjoint ranges of the code points with the Grapheme_Extend property.
std::span<CodePointRange const> grapheme_extend_ranges();
// Sorted, disjoint ranges of the code points in general categories Cc, Cf, Cs,
// Co, Cn, Zl, Zp, and Zs except U+0020 SPACE.
std::span<CodePointRange const> non_printable_ranges();

} // namespace quenmark::unicode
