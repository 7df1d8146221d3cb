// The information report (-V). (Not yet wired: does nothing.)
#include "commands.h"

int Get_SDR_Information(void) {
    return 0;
}
