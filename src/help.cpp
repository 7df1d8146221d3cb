#include "help.h"

// (The full text is still to be written.)
const char help_text[] = "\tPlease use next commands with TALMIR SDR:\n\r";
