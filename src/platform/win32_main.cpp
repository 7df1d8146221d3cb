// kestrel.exe's entry. The utility ends with -1 when no receiver opens and -2
// for an empty command line; a POSIX shell sees those as 255 and 254, and so
// do cmd (%ERRORLEVEL%) and PowerShell ($LASTEXITCODE) with this entry,
// instead of -1 and -2.
int kestrel_main(int argc, char **argv);

int main(int argc, char **argv) {
    return kestrel_main(argc, argv) & 0xFF;
}
