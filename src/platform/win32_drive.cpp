// Finding the receiver's USB drive on Windows, for a run whose command line
// gives no drive path: the first removable drive whose root holds both
// command files as plain files. The mount table named in drive.h has no
// meaning here and is not read. A removable drive without a medium fails
// its look-up at once (plat_start turned off the system's "insert a disk"
// box); network drives are never looked into.
#include "platform/drive.h"

#include <cstdio>
#include <string>

#include <windows.h>

namespace {

bool holds_plain_file(const std::wstring &root, const wchar_t *name) {
    DWORD attributes = GetFileAttributesW((root + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

} // namespace

bool plat_find_receiver_drive(const char *, char *dir, size_t dir_size) {
    if (dir_size == 0)
        return false;
    dir[0] = '\0';
    DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; letter++) {
        if ((drives & (1u << letter)) == 0)
            continue;
        std::wstring root = {static_cast<wchar_t>(L'A' + letter), L':', L'\\'};
        if (GetDriveTypeW(root.c_str()) != DRIVE_REMOVABLE)
            continue;
        if (!holds_plain_file(root, L"command.in") || !holds_plain_file(root, L"command.out"))
            continue;
        snprintf(dir, dir_size, "%c:\\", 'A' + letter);
        return true;
    }
    return false;
}
