#pragma once

#include <QIcon>

namespace kelvara {

// The image list of the cluster tree and its context menu: 17 slots of 16 by 16, of which the
// tree uses 0 (delete), 1 (blank page), 6 (arrow), 8 (small globe), 11 (folder), 14 (notepad
// with pencil) and 15 (globe with continents). Drawn from vector files, so that they stay crisp
// at any scale. An unused slot gives a null icon.
class TreeImages {
public:
    static constexpr int kCount = 17;
    static constexpr int kSize = 16;
    static QIcon icon(int index);
};

}  // namespace kelvara
