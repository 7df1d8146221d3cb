// SPDX-License-Identifier: MIT
// The help screen.
#include "commands.h"

#include <cstdio>

#include "help.h"
#include "main.h"

int show_help_information(void) {
    printf("Kestrel utility version %s\n\r", kestrel_version);
    printf("%s\n\r", help_text);
    return 0;
}
