#pragma once

// Rows each group of built-in filters contributes to the filter table.

#include "jinja/filters/Filters.h"

#include <span>
#include <string_view>

namespace jinja::filters {

struct FilterRow {
    std::string_view name;
    Filters::FilterFunction function;
};

std::span<const FilterRow> stringFilterRows();
std::span<const FilterRow> sequenceFilterRows();
std::span<const FilterRow> sortingFilterRows();
std::span<const FilterRow> numericFilterRows();
std::span<const FilterRow> formattingFilterRows();
std::span<const FilterRow> selectionFilterRows();

} // namespace jinja::filters
