#include "scene/ess_lut.h"

#include <algorithm>
#include <cstddef>

std::vector<uint16_t> binding4_table(const std::vector<uint16_t>& ess) {
    if (ess.empty()) return {};
    std::vector<uint16_t> all(ess.begin(), ess.begin() + static_cast<std::ptrdiff_t>(std::min(ess.size(), kEssLutSize)));
    all.resize(kEssLutSize, 0);
    all.insert(all.end(), shading_tables_precomputed, shading_tables_precomputed + kShadingTablesSize);
    return all;
}
