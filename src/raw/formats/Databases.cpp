// Databases: SQLite.

#include "raw/formats/FormatChecks.h"

#include <cstring>
#include <vector>

namespace corvello::formats {

// ---------------------------------------------------------------------------------------------
// SQLite: page size times the page count the header keeps (valid while the change counter and
// its copy agree).

FormatVerdict checkSqlite(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 100, h) || std::memcmp(h.data(), "SQLite format 3", 16) != 0) return notAFile();
    i64 page = be16(h, 16);
    if (page == 1) page = 65536;
    if (page < 512 || (page & (page - 1)) != 0) return notAFile();
    if (h[18] < 1 || h[18] > 2 || h[19] < 1 || h[19] > 2 || h[21] != 64 || h[22] != 32 || h[23] != 32) return notAFile();
    const i64 pages = be32(h, 28);
    if (pages == 0 || be32(h, 24) != be32(h, 92)) return partial(std::min(page, w.limit));
    const i64 size = page * pages;
    if (size > w.limit) return partial(w.limit / page * page);
    // Pages on the free list may hold anything; every other page begins as a b-tree page, an
    // overflow page (the next one's number), or a pointer-map page does.
    std::vector<bool> free(static_cast<std::size_t>(pages) + 1, false);
    std::uint32_t trunk = be32(h, 32);
    for (int guard = 0; trunk != 0 && trunk <= pages && guard < 1 << 16; ++guard) {
        ByteSpan t;
        if (!w.get((trunk - 1) * page, 8, t)) break;
        free[trunk] = true;
        const std::uint32_t leaves = be32(t, 4);
        const ByteSpan list = w.at((trunk - 1) * page + 8, std::min<std::size_t>(4u * leaves, static_cast<std::size_t>(page - 8)));
        for (std::size_t k = 0; k + 4 <= list.size(); k += 4)
            if (be32(list, k) <= pages) free[be32(list, k)] = true;
        trunk = be32(t, 0);
    }
    const bool pointerMaps = be32(h, 52) != 0;
    for (i64 n = 2; n <= pages; ++n) {
        if (free[static_cast<std::size_t>(n)]) continue;
        ByteSpan p;
        if (!w.get((n - 1) * page, 4, p)) return partial((n - 1) * page);
        const std::uint8_t type = p[0];
        const bool sound = type == 2 || type == 5 || type == 10 || type == 13 || (type == 0 && be32(p, 0) <= pages) ||
                           (pointerMaps && type >= 1 && type <= 5);
        if (!sound) return partial((n - 1) * page);
    }
    return whole(size);
}

}  // namespace corvello::formats
