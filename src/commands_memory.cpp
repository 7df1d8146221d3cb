// User memory cells and the backup file (-W).
//
// Cell n of the receiver's user memory is the two 32-bit words 2n and 2n+1:
// the frequency in Hz, then the modulation mode (low 16 bits) with the
// transverter index (high 16 bits).
//
// A backup is first written to a temporary file next to the target, and only
// a complete one (every cell answered, every byte written and synced)
// replaces the old backup. Restoring stores only what a line says exactly:
// unreadable lines, cells that do not exist and values that would arrive
// changed are reported and skipped.
#include "commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cmdline.h"
#include "fe_interface.h"
#include "user_memory.h"

bool user_memory_cell_exists(int64_t address) {
    return address >= 0 && address < USER_MEMORY_CELLS;
}

bool user_memory_cell_storable(int64_t address, int64_t freq, int64_t mode, int64_t trvtr_index,
                               int report_size, char *why, size_t why_size) {
    if (!user_memory_cell_exists(address)) {
        snprintf(why, why_size, "cell %lld is not one of the cells 0 to %d",
                 static_cast<long long>(address), USER_MEMORY_CELLS - 1);
        return false;
    }
    if (freq < INT32_MIN || freq > static_cast<int64_t>(UINT32_MAX)) {
        snprintf(why, why_size, "frequency %lld does not fit in 32 bits",
                 static_cast<long long>(freq));
        return false;
    }
    if (mode < 0 || mode > 0xFFFF) {
        snprintf(why, why_size, "mode %lld is outside 0 to 65535", static_cast<long long>(mode));
        return false;
    }
    if (trvtr_index < 0 || trvtr_index > 0xFFFF) {
        snprintf(why, why_size, "transverter index %lld is outside 0 to 65535",
                 static_cast<long long>(trvtr_index));
        return false;
    }
    // The store report carries the word from byte 3 on; only the bytes
    // within the report size travel.
    int word_bytes = report_size - 3;
    if (word_bytes < 4) {
        uint64_t limit = word_bytes <= 0 ? 0 : (uint64_t{1} << (8 * word_bytes)) - 1;
        uint64_t freq_word = static_cast<uint32_t>(freq);
        uint64_t mode_word =
            (static_cast<uint64_t>(trvtr_index) << 16) | static_cast<uint64_t>(mode);
        if (freq_word > limit || mode_word > limit) {
            snprintf(why, why_size,
                     "%s does not fit in the %d bits of a word that a %d-byte report carries",
                     freq_word > limit ? "the frequency" : "the mode with the transverter index",
                     8 * (word_bytes < 0 ? 0 : word_bytes), report_size);
            return false;
        }
    }
    return true;
}

backup_line_kind parse_backup_line(const char *text, size_t length, bool whole, backup_line *line) {
    if (length > 0 && text[0] == '#')
        return BACKUP_COMMENT;
    int64_t numbers[4];
    const char *p = text;
    int read = 0;
    for (; read < 4; read++) {
        if (!scan_decimal(p, &numbers[read], &p))
            break;
    }
    // In a line that goes on beyond what was read, a number that touches
    // the end of the read part may go on as well.
    if (!whole && (read < 4 || p >= text + length))
        return BACKUP_TOO_LONG;
    if (read < 4)
        return BACKUP_TOO_FEW_NUMBERS;
    line->address = numbers[0];
    line->freq = numbers[1];
    line->mode = numbers[2];
    line->trvtr_index = numbers[3];
    return BACKUP_DATA;
}

namespace {

constexpr int USER_MEMORY_QUERY = 0x64;

// The report and the answer for one word; `answered` is true only when the
// answer is the receiver's answer to a user memory query, not a time-out or
// an answer of another kind (whose value would be 0 or another quantity).
// Returns the send result of the report.
int query_word(int word, uint32_t *value, bool *answered) {
    int sent = HID_Get_User_Memory(word);
    *value = static_cast<uint32_t>(HID_wait_For_ACK());
    *answered = ack_answered() && ack_generic_command() == USER_MEMORY_QUERY;
    return sent;
}

// Reads one cell and prints its "UM" line; `answered` is false when either
// word went unanswered.
int query_cell(int address, uint32_t *freq, int *mode, int *trvtr_index, bool *answered) {
    bool first = false, second = false;
    uint32_t word = 0;
    query_word(2 * address, freq, &first);
    int sent = query_word(2 * address + 1, &word, &second);
    *mode = static_cast<int>(word & 0xFFFFu);
    *trvtr_index = static_cast<int>(word >> 16);
    printf("UM %d %lu %d %d\n\r", address, static_cast<unsigned long>(*freq), *mode, *trvtr_index);
    *answered = first && second;
    return sent;
}

// "<what>: <the system's description>" on standard error.
void report_error(const char *what, int err) {
    fprintf(stderr, "%s: %s\n", what, strerror(err));
}

// Where a backup is being written: a temporary file that replaces the
// target once complete, or, for a target that is not a regular file (a
// terminal, a pipe), the target itself.
struct backup_output {
    FILE *file;
    bool direct;
    int error; // the first write error, 0 while there is none
    char target[PATH_MAX];
    char temp[PATH_MAX];
};

// Creates the output; false with errno set when it cannot be had.
bool open_backup_output(const char *file_name, backup_output *out) {
    out->file = nullptr;
    out->direct = false;
    out->error = 0;
    out->temp[0] = '\0';
    if (strlen(file_name) >= sizeof out->target) {
        errno = ENAMETOOLONG;
        return false;
    }
    snprintf(out->target, sizeof out->target, "%s", file_name);

    struct stat st;
    bool exists = stat(file_name, &st) == 0;
    if (exists) {
        // An old backup that cannot be written stays as it is, as it would
        // if it were opened for writing.
        int probe = open(file_name, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            return false;
        close(probe);
        if (!S_ISREG(st.st_mode)) {
            out->direct = true;
            out->file = fopen(file_name, "w");
            return out->file != nullptr;
        }
        // Through a symbolic link the backup is the file it points to.
        struct stat lst;
        char resolved[PATH_MAX];
        if (lstat(file_name, &lst) == 0 && S_ISLNK(lst.st_mode) &&
            realpath(file_name, resolved) != nullptr)
            snprintf(out->target, sizeof out->target, "%s", resolved);
    }

    // The temporary file lies in the target's directory, so that the final
    // rename stays within one filesystem.
    const char *slash = strrchr(out->target, '/');
    int dir_length = slash == nullptr ? 0 : static_cast<int>(slash - out->target + 1);
    int n = snprintf(out->temp, sizeof out->temp, "%.*s.kestrel-backup-XXXXXX", dir_length,
                     out->target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof out->temp) {
        out->temp[0] = '\0';
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = mkstemp(out->temp);
    if (fd < 0) {
        out->temp[0] = '\0';
        return false;
    }
    // The new backup gets the old one's permissions, or those a newly
    // created file would get.
    mode_t permissions;
    if (exists) {
        permissions = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        permissions = 0666 & ~mask;
    }
    fchmod(fd, permissions);
    out->file = fdopen(fd, "w");
    if (out->file == nullptr) {
        int err = errno;
        close(fd);
        unlink(out->temp);
        out->temp[0] = '\0';
        errno = err;
        return false;
    }
    return true;
}

// Flushes, syncs and closes the output. With `keep` the new backup then
// replaces the target; otherwise the temporary file is removed. Returns
// false, after reporting why, when the file could not be completed.
bool close_backup_output(backup_output *out, bool keep) {
    int err = out->error;
    if (err == 0 && fflush(out->file) != 0)
        err = errno != 0 ? errno : EIO;
    if (err == 0 && !out->direct && fsync(fileno(out->file)) != 0)
        err = errno;
    if (fclose(out->file) != 0 && err == 0)
        err = errno != 0 ? errno : EIO;
    bool written = err == 0;
    out->file = nullptr;
    if (!written)
        report_error("Cannot write output file", err);
    if (out->direct)
        return written;
    if (!written || !keep) {
        unlink(out->temp);
        return false;
    }
    if (rename(out->temp, out->target) != 0) {
        report_error("Cannot replace output file", errno);
        unlink(out->temp);
        return false;
    }
    // Make the rename itself durable.
    const char *slash = strrchr(out->target, '/');
    char dir[PATH_MAX];
    snprintf(dir, sizeof dir, "%.*s",
             slash == nullptr ? 1 : static_cast<int>(slash - out->target + 1),
             slash == nullptr ? "." : out->target);
    int dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        fsync(dir_fd);
        close(dir_fd);
    }
    return true;
}

void write_backup(backup_output *out, const char *text) {
    if (out->error == 0 && fputs(text, out->file) == EOF)
        out->error = errno != 0 ? errno : EIO;
}

const char *const backup_header[] = {
    "#  QUARRO SDR backup file\r\n",
    "#  modulation codes are next:\r\n",
    "#  AM=0, LSB=1, USB=2, CWL=3, CWU=4, NFM=5, WFM=6, \r\n",
    "#  BPSK=9, QPSK=10, RTTY=11, SAM=12, SAMU=13, SAML=14 \r\n",
    "#  numbers in lines below are organized in the next order:\r\n",
    "#<cell> <frequency> <modulation> <travsverter>:\r\n",
};

// Reads the next line of `file`: its first BACKUP_LINE_CHARS characters go
// to `text` (terminated), the rest up to the line end is passed over.
// Returns false at end of file with nothing read.
bool read_backup_line(FILE *file, char (&text)[BACKUP_LINE_CHARS + 1], size_t *length,
                      bool *whole) {
    size_t n = 0;
    bool any = false;
    *whole = true;
    int c;
    while ((c = getc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (n < BACKUP_LINE_CHARS)
            text[n++] = static_cast<char>(c);
        else
            *whole = false;
    }
    text[n] = '\0';
    *length = n;
    return any;
}

} // namespace

int get_user_memory(int address, uint32_t *freq, int *mode, int *trvtr_index) {
    *freq = 0;
    *mode = 0;
    *trvtr_index = 0;
    if (!user_memory_cell_exists(address)) {
        // Word numbers travel in one byte: another cell would be read.
        fprintf(stderr, "User memory cell %d not read: the cells are 0 to %d\n", address,
                USER_MEMORY_CELLS - 1);
        return -1;
    }
    bool answered;
    int sent = query_cell(address, freq, mode, trvtr_index, &answered);
    return answered ? sent : -1; // a word without its answer: the cell was not read
}

int save_user_memory(int address, uint32_t freq, int mode, int trvtr_index) {
    char why[160];
    if (!user_memory_cell_storable(address, freq, mode, trvtr_index, HID_COMMAND_SIZE, why,
                                   sizeof why)) {
        fprintf(stderr, "User memory cell %d not stored: %s\n", address, why);
        return -1;
    }
    HID_Save_User_Memory(2 * address, freq);
    HID_wait_For_ACK();
    uint32_t word = (static_cast<uint32_t>(trvtr_index) << 16) | static_cast<uint32_t>(mode);
    HID_Save_User_Memory(2 * address + 1, word);
    HID_wait_For_ACK();
    printf("UM: cell= %d, freq=%ld , mode=%d, tvtr=%d\n\r", address,
           static_cast<long>(static_cast<int32_t>(freq)), mode, trvtr_index);
    return 0;
}

int read_user_memory_to_file(const char *file_name) {
    if (file_name[0] == '\0') {
        printf("write to backup file: %s\r\n", file_name);
        return 0;
    }
    backup_output out;
    if (!open_backup_output(file_name, &out)) {
        report_error("Cannot open output file\n\r", errno);
        return -1;
    }
    for (const char *line : backup_header)
        write_backup(&out, line);
    int unanswered = 0;
    for (int cell = 0; cell < USER_MEMORY_CELLS; cell++) {
        uint32_t freq;
        int mode, trvtr_index;
        bool answered;
        query_cell(cell, &freq, &mode, &trvtr_index, &answered);
        if (!answered)
            unanswered++;
        char line[255];
        snprintf(line, sizeof line, "%d %d %d %d \r\n", cell, static_cast<int32_t>(freq), mode,
                 trvtr_index);
        write_backup(&out, line);
    }
    bool complete = close_backup_output(&out, unanswered == 0);
    if (unanswered > 0)
        fprintf(stderr, "%d of the %d user memory cells got no answer to their query\n", unanswered,
                USER_MEMORY_CELLS);
    if (!complete) {
        if (!out.direct)
            fprintf(stderr, "No backup written: %s is left as it was\n", file_name);
        return -1;
    }
    if (unanswered > 0)
        return -1; // written straight to a terminal or pipe: incomplete all the same
    printf("write to backup file: %s\r\n", file_name);
    return 0;
}

int restore_user_memory_from_file(const char *file_name) {
    if (file_name[0] == '\0') {
        printf("restore from backup file: %s\r\n", file_name);
        return 0;
    }
    FILE *file = fopen(file_name, "r");
    if (file == nullptr) {
        report_error("Cannot open input file\n\r", errno);
        return -1;
    }
    int result = 0;
    int line_number = 0;
    int stored = 0;
    char text[BACKUP_LINE_CHARS + 1];
    size_t length;
    bool whole;
    while (stored < USER_MEMORY_CELLS && read_backup_line(file, text, &length, &whole)) {
        line_number++;
        backup_line line;
        switch (parse_backup_line(text, length, whole, &line)) {
        case BACKUP_COMMENT:
            continue;
        case BACKUP_TOO_FEW_NUMBERS:
            fprintf(stderr, "Backup file line %d skipped: it does not hold four numbers\n",
                    line_number);
            result = -1;
            continue;
        case BACKUP_TOO_LONG:
            fprintf(stderr,
                    "Backup file line %d skipped: its four numbers do not end within its first "
                    "%zu characters\n",
                    line_number, BACKUP_LINE_CHARS);
            result = -1;
            continue;
        case BACKUP_DATA:
            break;
        }
        char why[160];
        if (!user_memory_cell_storable(line.address, line.freq, line.mode, line.trvtr_index,
                                       HID_COMMAND_SIZE, why, sizeof why)) {
            fprintf(stderr, "Backup file line %d skipped: %s\n", line_number, why);
            result = -1;
            continue;
        }
        int address = static_cast<int>(line.address);
        uint32_t freq = static_cast<uint32_t>(line.freq);
        int mode = static_cast<int>(line.mode);
        int trvtr_index = static_cast<int>(line.trvtr_index);
        printf("%lu %d %d %d \n\r", static_cast<unsigned long>(address), static_cast<int>(freq),
               mode, trvtr_index);
        save_user_memory(address, freq, mode, trvtr_index);
        stored++;
    }
    if (ferror(file)) {
        report_error("Cannot read input file", errno != 0 ? errno : EIO);
        result = -1;
    }
    fclose(file);
    printf("restore from backup file: %s\r\n", file_name);
    return result;
}
