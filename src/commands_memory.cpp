// User memory cells and the backup file. (Not yet wired: each does nothing.)
#include "commands.h"

int get_user_memory(int, uint32_t *, int *, int *) {
    return 0;
}
int save_user_memory(int, uint32_t, int, int) {
    return 0;
}
int read_user_memory_to_file(const char *) {
    return 0;
}
int restore_user_memory_from_file(const char *) {
    return 0;
}
