// The velpack command line: argument parsing, messages and exit codes.
#include <cinttypes>
#include <algorithm>
#include <cstring>
#include <map>

#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "TreeDiff.h"
#include "package/PackageTrailer.h"

namespace {

// Removes a temporary folder with everything in it when it goes out of scope.
class TempFolderGuard {
public:
    TempFolderGuard() = default;
    ~TempFolderGuard() {
        if (!path_.empty()) RemoveFolderTree(path_);
    }
    TempFolderGuard(const TempFolderGuard&) = delete;
    TempFolderGuard& operator=(const TempFolderGuard&) = delete;
    void Reset(const std::string& path) { path_ = path; }

private:
    std::string path_;
};

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "velpack: builds and checks Velmora patch installers and their package archives\n"
    "\n"
    "usage:\n"
    "  velpack pack <folder> <out.pkg>\n"
    "      Packs every file under <folder> (names relative to it, '\\' separators, GBK).\n"
    "  velpack diff <old client> <new client> -o <patch folder> [--report]\n"
    "      Writes the patch that turns the old client folder into the new one: new and\n"
    "      changed files, new and changed client archive entries (stored form, in\n"
    "      velpack.entries.pkg), UpdateDelList.txt and the resource index list. Refuses,\n"
    "      naming each file or entry, what a patch cannot express. --report lists it all\n"
    "      with sizes before and after compression.\n"
    "  velpack build --stub <bare installer.exe>\n"
    "                (--folder <dir> | --package <file.pkg> | --old <client> --new <client>)\n"
    "                --from <a.b.c.d|0> --to <a.b.c.d> --kind <full|micro|number>\n"
    "                -o <out.exe> [--force] [--report]\n"
    "      Appends the package and its trailer to the stub. --from 0: no lower bound.\n"
    "      With --old and --new the package is the diff of the two folders, and --from,\n"
    "      --to and --kind default to their update.cfg \"ver\" lines and the new folder's\n"
    "      Config\\MiniClient.ini.\n"
    "      --force accepts a stub that already carries a trailer or lacks \"MZ\", --from\n"
    "      above --to, and a package that fails its check.\n"
    "  velpack inspect <file>\n"
    "      Shows the trailer (if any), the archive header and every entry.\n"
    "  velpack verify <file>\n"
    "      Checks trailer, CRC-32, directory and that every entry inflates to its size.\n"
    "  velpack extract <file> <outdir>\n"
    "      Writes every entry inflated under <outdir>; unsafe names are refused.\n"
    "  velpack --help\n"
    "\n"
    "<file> is an installer (package found through its trailer) or a plain archive.\n"
    "exit codes: 0 done, 1 bad file or failed step, 2 bad usage\n";

int UsageError(const std::string& message) {
    fprintf(stderr, "velpack: %s\ntry 'velpack --help'\n", message.c_str());
    return kExitUsage;
}

int Failure(const std::string& message) {
    fprintf(stderr, "velpack: %s\n", message.c_str());
    return kExitBadFile;
}

std::string Hex32(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08" PRIX32, value);
    return text;
}

// Parses 1 to 3 decimal digits worth at most 255 at *text, advancing it.
bool ParseVersionPart(const char*& text, unsigned* part) {
    unsigned value = 0;
    int digits = 0;
    while (*text >= '0' && *text <= '9') {
        if (++digits > 3) return false;
        value = value * 10 + static_cast<unsigned>(*text - '0');
        ++text;
    }
    if (digits == 0 || value > 255) return false;
    *part = value;
    return true;
}

int CommandPack(const std::vector<std::string>& args) {
    if (args.size() != 2) return UsageError("pack takes <folder> <out.pkg>");
    std::string error;
    if (!PackFolder(args[0], args[1], &error)) return Failure("pack: " + error);
    uint64_t size = 0;
    FileSizeOf(args[1], &size);
    printf("wrote %s (%" PRIu64 " bytes)\n", args[1].c_str(), size);
    return kExitOk;
}

const char* KindText(DiffItem::Kind kind) {
    switch (kind) {
    case DiffItem::Kind::PlainFile:
        return "file";
    case DiffItem::Kind::ArchiveEntry:
        return "entry";
    case DiffItem::Kind::IndexList:
        return "index";
    case DiffItem::Kind::DeleteList:
        return "delete";
    }
    return "";
}

void PrintDiffReport(FILE* out, const DiffResult& diff) {
    uint64_t before = 0;
    uint64_t after = 0;
    for (const DiffItem& item : diff.items) {
        std::string name = ShowGbkName(item.name);
        if (item.kind == DiffItem::Kind::ArchiveEntry) name += "  (in package\\" + ShowGbkName(item.archive) + ")";
        fprintf(out, "  %-7s %-6s %12" PRIu64 " -> %12" PRIu64 "  %s\n", item.isNew ? "new" : "changed",
                KindText(item.kind), item.size, item.storedSize, name.c_str());
        before += item.size;
        after += item.storedSize;
    }
    for (const std::string& line : diff.deleteLines) fprintf(out, "  delete  %s\n", ShowGbkName(line).c_str());
    fprintf(out, "total: %zu items, %" PRIu64 " bytes, %" PRIu64 " bytes compressed; %zu deleted\n",
            diff.items.size(), before, after, diff.deleteLines.size());
}

int DiffFailure(const char* command, const DiffResult& diff, const std::string& error) {
    if (diff.problems.empty()) return Failure(std::string(command) + ": " + error);
    for (const std::string& problem : diff.problems) fprintf(stderr, "velpack: %s: %s\n", command, problem.c_str());
    return Failure(std::string(command) + ": " + std::to_string(diff.problems.size()) +
                   " difference(s) a patch cannot express; nothing written");
}

int CommandDiff(const std::vector<std::string>& args) {
    std::vector<std::string> folders;
    std::string out;
    bool report = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--report") {
            report = true;
        } else if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return UsageError("diff: -o needs a value");
            if (!out.empty()) return UsageError("diff: -o given twice");
            out = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-') {
            return UsageError("diff: unknown argument \"" + args[i] + "\"");
        } else {
            folders.push_back(args[i]);
        }
    }
    if (folders.size() != 2 || out.empty()) return UsageError("diff takes <old client> <new client> -o <patch folder>");
    DiffOptions options;
    options.measureCompression = report;
    DiffResult diff;
    std::string error;
    if (!DiffTrees(folders[0], folders[1], out, options, &diff, &error)) return DiffFailure("diff", diff, error);
    if (report) PrintDiffReport(stdout, diff);
    if (diff.items.empty()) {
        printf("the two folders are the same; %s is empty\n", out.c_str());
    } else {
        printf("wrote %s: %zu items, %zu names to delete\n", out.c_str(), diff.items.size(), diff.deleteLines.size());
    }
    return kExitOk;
}

int CommandBuild(const std::vector<std::string>& args) {
    static const char* const kValued[] = {"--stub", "--folder", "--package", "--from", "--to", "--kind", "-o",
                                          "--old",  "--new"};
    std::map<std::string, std::string> values;
    bool force = false;
    bool report = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        if (option == "--output") option = "-o";
        if (option == "--force") {
            force = true;
            continue;
        }
        if (option == "--report") {
            report = true;
            continue;
        }
        bool known = false;
        for (const char* valued : kValued) known = known || option == valued;
        if (!known) return UsageError("build: unknown argument \"" + args[i] + "\"");
        if (i + 1 >= args.size()) return UsageError("build: " + args[i] + " needs a value");
        if (!values.emplace(option, args[++i]).second) return UsageError("build: " + args[i - 1] + " given twice");
    }
    const bool fromTrees = values.count("--old") || values.count("--new");
    if (fromTrees && !(values.count("--old") && values.count("--new"))) {
        return UsageError("build: --old and --new go together");
    }
    if (report && !fromTrees) return UsageError("build: --report needs --old and --new");
    if (fromTrees) {
        // What the release engineer left out comes from the two client folders.
        uint32_t version = 0;
        if (!values.count("--from")) {
            if (!ReadTreeVersion(values["--old"], &version)) {
                return Failure("build: no \"ver\" line in update.cfg of \"" + values["--old"] + "\"; give --from");
            }
            values["--from"] = ShowVersion(version).substr(0, ShowVersion(version).find(' '));
        }
        if (!values.count("--to")) {
            if (!ReadTreeVersion(values["--new"], &version)) {
                return Failure("build: no \"ver\" line in update.cfg of \"" + values["--new"] + "\"; give --to");
            }
            values["--to"] = ShowVersion(version).substr(0, ShowVersion(version).find(' '));
        }
        if (!values.count("--kind")) values["--kind"] = ReadTreeClientType(values["--new"]) ? "micro" : "full";
    }
    for (const char* required : {"--stub", "--from", "--to", "--kind", "-o"}) {
        if (!values.count(required)) return UsageError(std::string("build: ") + required + " is required");
    }
    if (values.count("--folder") + values.count("--package") + (fromTrees ? 1 : 0) != 1) {
        return UsageError("build: give exactly one of --folder, --package and --old/--new");
    }
    uint32_t fromVersion = 0;
    uint32_t toVersion = 0;
    uint32_t clientType = 0;
    if (!ParseFromVersionArg(values["--from"].c_str(), &fromVersion)) {
        return UsageError("build: --from \"" + values["--from"] + "\" is not a.b.c.d (each 0..255) or 0");
    }
    if (!ParseVersionArg(values["--to"].c_str(), &toVersion)) {
        return UsageError("build: --to \"" + values["--to"] + "\" is not a.b.c.d (each 0..255)");
    }
    if (!ParseClientTypeArg(values["--kind"].c_str(), &clientType)) {
        return UsageError("build: --kind \"" + values["--kind"] + "\" is not full, micro or a number");
    }
    if (fromVersion > toVersion && !force) {
        return UsageError("build: --from " + ShowVersion(fromVersion) + " is above --to " + ShowVersion(toVersion) +
                          ": no client could take this patch");
    }

    std::string error;
    std::string packagePath = values.count("--package") ? values["--package"] : std::string();
    TempFileGuard packedTemp;
    TempFolderGuard diffFolder;
    if (fromTrees) {
        std::string temp;
        if (!MakeTempFile(&temp) || !RemoveFile(temp) || !MakeDirectory(temp)) {
            return Failure("build: cannot create a temporary folder: " + LastErrorText());
        }
        diffFolder.Reset(temp);
        DiffOptions options;
        options.measureCompression = report;
        DiffResult diff;
        if (!DiffTrees(values["--old"], values["--new"], temp, options, &diff, &error)) {
            return DiffFailure("build", diff, error);
        }
        if (diff.items.empty()) return Failure("build: the two client folders are the same; there is nothing to patch");
        if (report) PrintDiffReport(stdout, diff);
        values["--folder"] = temp;
    }
    if (packagePath.empty()) {
        std::string temp;
        if (!MakeTempFile(&temp)) return Failure("build: cannot create a temporary file: " + LastErrorText());
        packedTemp.Reset(temp);
        if (!PackFolder(values["--folder"], temp, &error)) return Failure("build: " + error);
        packagePath = temp;
    }
    if (fromTrees) {
        uint64_t packageSize = 0;
        std::string why;
        if (!FileSizeOf(packagePath, &packageSize)) return Failure("build: cannot read \"" + packagePath + "\"");
        if (!CheckArchiveChoice(values["--old"], static_cast<uint32_t>(std::min<uint64_t>(packageSize, UINT32_MAX)), &why)) {
            return Failure("build: " + why);
        }
    }

    FileReport package;
    if (!ExamineFile(packagePath, true, &package, &error)) return Failure("build: " + error);
    if (package.hasTrailer) {
        return Failure("build: \"" + packagePath + "\" is an installer, not a package archive");
    }
    if (!package.problems.empty()) {
        for (const std::string& problem : package.problems) {
            fprintf(stderr, "velpack: build: package \"%s\": %s\n", packagePath.c_str(), problem.c_str());
        }
        if (!force) return Failure("build: the package failed its check; nothing written");
    }

    BuildOptions options;
    options.force = force;
    if (!BuildInstaller(values["--stub"], packagePath, fromVersion, toVersion, clientType, values["-o"], options,
                        &error)) {
        return Failure("build: " + error);
    }
    FileReport built;
    if (!ExamineFile(values["-o"], false, &built, &error)) return Failure("build: " + error);
    printf("wrote %s: %" PRIu64 " bytes, %zu entries, trailer at offset %" PRId32 ", CRC-32 %s\n",
           values["-o"].c_str(), built.fileLength, built.entries.size(), built.trailerOffset,
           Hex32(built.trailer.packageCrc).c_str());
    printf("  from %s to %s, clientType %" PRIu32 "\n", ShowVersion(fromVersion).c_str(),
           ShowVersion(toVersion).c_str(), clientType);
    return kExitOk;
}

int CommandInspect(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError("inspect takes <file>");
    FileReport report;
    std::string error;
    if (!ExamineFile(args[0], false, &report, &error)) return Failure("inspect: " + error);
    PrintFileReport(stdout, args[0], report);
    return report.problems.empty() ? kExitOk : kExitBadFile;
}

int CommandVerify(const std::vector<std::string>& args) {
    if (args.size() != 1) return UsageError("verify takes <file>");
    FileReport report;
    std::string error;
    if (!ExamineFile(args[0], true, &report, &error)) return Failure("verify: " + error);
    if (!report.problems.empty()) {
        for (const std::string& problem : report.problems) {
            fprintf(stderr, "velpack: verify: %s: %s\n", args[0].c_str(), problem.c_str());
        }
        return kExitBadFile;
    }
    if (report.hasTrailer) {
        printf("%s: OK: installer, %zu entries, package CRC-32 %s, from %s to %s, clientType %" PRIu32 "\n",
               args[0].c_str(), report.entries.size(), Hex32(report.computedCrc).c_str(),
               ShowVersion(report.trailer.fromVersion).c_str(), ShowVersion(report.trailer.toVersion).c_str(),
               report.trailer.clientType);
    } else {
        printf("%s: OK: package archive, %zu entries\n", args[0].c_str(), report.entries.size());
    }
    return kExitOk;
}

int CommandExtract(const std::vector<std::string>& args) {
    if (args.size() != 2) return UsageError("extract takes <file> <outdir>");
    ExtractSummary summary;
    std::string error;
    if (!ExtractArchiveFile(args[0], args[1], &summary, &error)) return Failure("extract: " + error);
    for (const std::string& problem : summary.problems) {
        fprintf(stderr, "velpack: extract: %s: %s\n", args[0].c_str(), problem.c_str());
    }
    printf("extracted %u entries to %s\n", summary.written, args[1].c_str());
    return summary.problems.empty() ? kExitOk : kExitBadFile;
}

}  // namespace

bool ParseVersionArg(const char* text, uint32_t* packed) {
    if (!text) return false;
    unsigned parts[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *text++ != '.') return false;
        if (!ParseVersionPart(text, &parts[i])) return false;
    }
    if (*text != '\0') return false;
    *packed = PackVersion(parts[0], parts[1], parts[2], parts[3]);
    return true;
}

bool ParseFromVersionArg(const char* text, uint32_t* packed) {
    if (text && strcmp(text, "0") == 0) {
        *packed = 0;
        return true;
    }
    return ParseVersionArg(text, packed);
}

bool ParseClientTypeArg(const char* text, uint32_t* clientType) {
    if (!text) return false;
    if (strcmp(text, "full") == 0) {
        *clientType = kClientTypeFull;
        return true;
    }
    if (strcmp(text, "micro") == 0) {
        *clientType = kClientTypeMicro;
        return true;
    }
    uint64_t value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > UINT32_MAX) return false;
    }
    if (p == text || *p != '\0') return false;
    *clientType = static_cast<uint32_t>(value);
    return true;
}

std::string ShowVersion(uint32_t packed) {
    char text[16];
    FormatPackedVersion(packed, text, sizeof(text));
    return std::string(text) + " (" + Hex32(packed) + ")";
}

int RunPackTool(int argc, char** argv) {
    if (argc < 2) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "pack") return CommandPack(args);
    if (command == "build") return CommandBuild(args);
    if (command == "diff") return CommandDiff(args);
    if (command == "inspect") return CommandInspect(args);
    if (command == "verify") return CommandVerify(args);
    if (command == "extract") return CommandExtract(args);
    return UsageError("unknown command \"" + command + "\"");
}
