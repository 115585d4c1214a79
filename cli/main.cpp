// zbitool: the image editor's operations from the command line.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "IndexCommands.h"
#include "PartitionCommands.h"
#include "RestoreCommands.h"
#include "VerifyCommand.h"

namespace {

constexpr const char *kHelp = R"(zbitool - work with partition image files (.zbi)

Usage:
  zbitool create IMAGE RAW... [--name TEXT] [--comment TEXT] [--compression none|low|high|CODE]
                 [--password-file FILE] [--split-size BYTES] [--all-blocks] [--force]
      Make a new image with one partition per raw partition file, or per partition of a whole-disk
      image with an MBR (primary, then logical partitions), drive letters C, D, ... in that order.
      FAT12, FAT16, FAT32 and NTFS are recognised and only their used blocks are stored (all of them
      with --all-blocks); other file systems are stored in full as unknown.
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
  zbitool copy SRC DST [--partitions LIST|all] [--compression same|none|low|high]
               [--password same|none|new] [--password-file F] [--new-password-file F]
               [--split-size BYTES]
      Copy partitions (all, or a LIST such as 1,3 or 2-4) of SRC into DST. An existing DST gets them
      added after its own; a new one is made. Partitions that keep their compression and password are
      copied as stored, without decoding. --password-file holds the password of protected partitions,
      --new-password-file the new one (typed twice on the terminal when not given).
  zbitool compress SRC DST [copy options]     copy with --compression low unless told otherwise
  zbitool uncompress SRC DST [copy options]   copy with --compression none unless told otherwise
  zbitool span SRC DST --split-size BYTES [--password-file F] [--force]
      Copy every partition into a new image set split into files of at most BYTES.
  zbitool combine SRC DST [--split-size BYTES] [--password-file F] [--force]
      Copy every partition of a split set into a new single file (or a set of another split size).
  zbitool delete IMAGE N...
      Delete partitions N... of IMAGE.

rename, comment and delete refuse an image whose newest state cannot be read (it is damaged, and shows an
older state) unless --accept-damaged is given: the change then builds on the state shown.

A copy that fails or is cancelled (Ctrl-C) leaves an existing DST as it was and removes a DST it made,
with its numbered parts.

)";

constexpr const char *kExitHelp = R"(
zbitool --version prints the version.
Passwords are read from the first line of FILE, or typed on the terminal without echo.
Exit status: 0 on success, 1 when the work failed (the reason is on standard error), 2 for a usage error.
)";

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::FILE *out = argc < 2 ? stderr : stdout;
        std::fputs(kHelp, out);
        std::fputs(imbrex::cli::kRestoreHelp, out);
        std::fputs(imbrex::cli::kIndexHelp, out);
        std::fputs(imbrex::cli::kVerifyHelp, out);
        std::fputs(kExitHelp, out);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("zbitool %s\n", IMBREX_VERSION);
        return 0;
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
    if (command == "copy")
        return imbrex::cli::runCopy(args);
    if (command == "compress")
        return imbrex::cli::runCompress(args);
    if (command == "uncompress")
        return imbrex::cli::runUncompress(args);
    if (command == "span")
        return imbrex::cli::runSpan(args);
    if (command == "combine")
        return imbrex::cli::runCombine(args);
    if (command == "delete")
        return imbrex::cli::runDelete(args);
    if (command == "ls")
        return imbrex::cli::runLs(args);
    if (command == "extract")
        return imbrex::cli::runExtract(args);
    if (command == "index")
        return imbrex::cli::runIndex(args);
    if (command == "verify")
        return imbrex::cli::runVerify(args);
    std::fprintf(stderr, "zbitool: unknown command '%s'\nTry 'zbitool --help'.\n", command.c_str());
    return 2;
}
