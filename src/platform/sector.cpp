// SPDX-License-Identifier: MIT
// The command files' sector transfers, for every system: the checks that
// come before the system's transfer (system.h).
#include "platform/platform.h"
#include "platform/system.h"

namespace {

// An open file and a buffer that the system takes; otherwise false, with
// "invalid argument" as the last error for a buffer it would refuse.
bool transfer_ready(const plat_file *f, const void *sector) {
    if (!plat_file_valid(f))
        return false;
    if (plat_sector_transfer_allowed(sector, PLAT_SECTOR_SIZE))
        return true;
    plat_set_condition(PLAT_INVALID_ARGUMENT);
    return false;
}

} // namespace

bool plat_file_read_sector(plat_file *f, void *sector) {
    return transfer_ready(f, sector) && plat_sector_read(f, sector);
}

bool plat_file_write_sector(plat_file *f, const void *sector) {
    return transfer_ready(f, sector) && plat_sector_write(f, sector);
}
