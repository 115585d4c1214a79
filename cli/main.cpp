// zbitool: the image editor's operations from the command line.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

constexpr const char *kHelp = R"(zbitool - work with partition image files (.zbi)

Usage:
  zbitool create IMAGE RAW... [--name TEXT] [--comment TEXT] [--compression none|low|high|CODE]
                 [--password-file FILE] [--split-size BYTES] [--force]
      Make a new image with one partition per raw partition file (drive letters C, D, ...).
      FAT12, FAT16, FAT32 and NTFS are recognised; other file systems are stored as unknown.
      low and high store codes 301 and 208; 1 to 8 make the old one-stream kind that cannot be read at
      random. A password protects (encrypts) every partition. A split size of 10,000,000 bytes or more
      splits the image over IMAGE, then files whose extension is 002, 003, ...
  zbitool list IMAGE
      One line per partition: name|drive|type|status|date|size|compression|
  zbitool info IMAGE N
      The properties of partition N (numbered from 1).
  zbitool export IMAGE N RAW [--password-file FILE] [--force]
      Write partition N as a raw volume; blocks the image does not store read as zeros.
  zbitool rename IMAGE [N] TEXT
      Set the image's name, or partition N's name (at most 99 bytes).
  zbitool comment IMAGE [N] TEXT
      Set the image's comment (at most 399 bytes), or partition N's (at most 255 bytes).

Passwords are read from the first line of FILE, or typed on the terminal without echo.
Exit status: 0 on success, 1 when the work failed (the reason is on standard error), 2 for a usage error.
)";

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(kHelp, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    imbrex::cli::Words args(argv + 2, argv + argc);
    if (command == "create")
        return imbrex::cli::runCreate(args);
    if (command == "list")
        return imbrex::cli::runList(args);
    if (command == "info")
        return imbrex::cli::runInfo(args);
    if (command == "export")
        return imbrex::cli::runExport(args);
    if (command == "rename")
        return imbrex::cli::runRename(args);
    if (command == "comment")
        return imbrex::cli::runComment(args);
    std::fprintf(stderr, "zbitool: unknown command '%s'\nTry 'zbitool --help'.\n", command.c_str());
    return 2;
}
