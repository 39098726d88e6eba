// The Debian package made from this build folder with cpack (as `make package`
// makes it from a folder of its own): every file where CUPS looks for it,
// root-owned with the modes CUPS wants; its name, version and dependencies;
// lintian's verdict (which covers stripping); and the filter unpacked from it
// printing exactly what the build tree's filter prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/PrinterJob.h"
#include "zorvanVersion.h"

using namespace testsupport;

namespace {

// A program from PATH (runProcess wants a path; env finds it).
ProcessResult tool(std::vector<std::string> argv)
{
    argv.insert(argv.begin(), "/usr/bin/env");
    return runProcess(argv, {.timeoutSeconds = 300});
}

struct Made {
    TempDir dir;
    std::string arch, deb, root = dir.file("root"), skip, error;
};

// Made once for the whole program: cpack and the unpacking take seconds.
const Made& package()
{
    static Made p;
    static bool made = false;
    if (made) {
        return p;
    }
    made = true;
    if (ZORVAN_INSTRUMENTED) {
        p.skip = "a sanitizer build: a package of instrumented programs is meaningless";
        return p;
    }
    for (const char* program : {"dpkg-deb", "dpkg-shlibdeps", "gzip"}) {
        if (tool({"sh", "-c", "command -v " + std::string(program)}).exitStatus != 0) {
            p.skip = std::string(program) + " is missing (scripts/install-deps installs dpkg-dev)";
            return p;
        }
    }
    // cpack rewrites the build folder's install_manifest.txt, which `make
    // uninstall` reads: it must still list what `make install` put in place.
    const std::string manifest = ZORVAN_BUILD_DIR "/install_manifest.txt";
    const bool hadManifest = std::filesystem::exists(manifest);
    const std::string kept = readFile(manifest);
    const ProcessResult cpack =
        tool({ZORVAN_CPACK, "-G", "DEB", "--config", ZORVAN_BUILD_DIR "/CPackConfig.cmake", "-B", p.dir.path()});
    hadManifest ? writeFile(manifest, kept) : void(std::filesystem::remove(manifest));
    p.arch = tool({"dpkg", "--print-architecture"}).out;
    p.arch.erase(p.arch.find_last_not_of('\n') + 1);
    p.deb = p.dir.file("zorvan-printer-driver_" ZORVAN_VERSION "_" + p.arch + ".deb");
    if (cpack.exitStatus != 0 || !std::filesystem::exists(p.deb)) {
        p.error = "cpack made no " + p.deb + ":\n" + cpack.out + cpack.err;
    } else if (tool({"dpkg-deb", "-x", p.deb, p.root}).exitStatus != 0) {
        p.error = "dpkg-deb -x failed";
    }
    return p;
}

std::string field(const std::string& name)
{
    return tool({"dpkg-deb", "-W", "--showformat=${" + name + "}", package().deb}).out;
}

}  // namespace

// Skips (sanitizer build, no dpkg) or fails (cpack failed) every test.
class Package : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!package().skip.empty()) {
            GTEST_SKIP() << package().skip;
        }
        ASSERT_EQ(package().error, "");
    }
};

// Files, fields and lintian in one test: ctest runs every test in a process of
// its own, which makes the package anew.
TEST_F(Package, EveryFileWhereItBelongsRightFieldsNoLintianErrorsOrWarnings)
{
    struct Expected {
        std::string perms, pattern;
        bool seen = false;
    };
    std::vector<Expected> expected;
    std::ifstream contents(ZORVAN_PACKAGE_CONTENTS);
    for (std::string perms, pattern; contents >> perms >> pattern;) {
        expected.push_back({perms, pattern});
    }

    std::istringstream listing(tool({"dpkg-deb", "-c", package().deb}).out);
    for (std::string line; std::getline(listing, line);) {
        std::istringstream fields(line);
        std::string perms, owner, size, date, time, path;
        fields >> perms >> owner >> size >> date >> time >> path;
        path.erase(0, 1);  // "./usr/..."
        EXPECT_EQ(owner, "root/root") << path;
        if (perms[0] == 'd') {
            EXPECT_EQ(perms, "drwxr-xr-x") << path;
            continue;
        }
        auto match = std::find_if(expected.begin(), expected.end(),
                                  [&](const Expected& e) { return std::regex_match(path, std::regex(e.pattern)); });
        if (match == expected.end()) {
            ADD_FAILURE() << path << " does not belong in the package";
            continue;
        }
        match->seen = true;
        EXPECT_EQ(perms, match->perms) << path;
        // A systemd service starts a program the package holds.
        const std::string unit = path.ends_with(".service") ? readFile(package().root + path) : "";
        if (const std::size_t exec = unit.find("\nExecStart="); exec != std::string::npos) {
            const std::string program = unit.substr(exec + 11, unit.find_first_of(" \n", exec + 11) - exec - 11);
            EXPECT_TRUE(std::filesystem::exists(package().root + program)) << path << " starts " << program;
        }
    }
    for (const Expected& e : expected) {
        EXPECT_TRUE(e.seen) << "missing from the package: " << e.pattern;
    }

    EXPECT_EQ(field("Package"), "zorvan-printer-driver");
    EXPECT_EQ(field("Version"), ZORVAN_VERSION);
    EXPECT_EQ(field("Architecture"), package().arch);
    // The scheduler and cups-filters' converters by name; the libraries the
    // programs link, with versions, from dpkg-shlibdeps.
    const std::string depends = ", " + field("Depends") + ",";
    for (const char* dependency : {", cups,", ", cups-filters,", ", libcups2 (>= ", ", libc6 (>= "}) {
        EXPECT_NE(depends.find(dependency), std::string::npos) << dependency << " not in " << depends;
    }
    // The changelog's latest entry names the version being packaged.
    const std::string changelog =
        tool({"gzip", "-dc", package().root + "/usr/share/doc/zorvan-printer-driver/changelog.gz"}).out;
    EXPECT_TRUE(changelog.starts_with("zorvan-printer-driver (" ZORVAN_VERSION ") ")) << changelog;

    if (tool({"sh", "-c", "command -v lintian"}).exitStatus != 0) {
        GTEST_SKIP() << "lintian is missing (scripts/install-deps installs it)";
    }
    const ProcessResult lintian = tool({"lintian", "--fail-on", "error,warning", "--suppress-tags-from-file",
                                        sourcePath("packaging/lintian-accepted"), package().deb});
    EXPECT_EQ(lintian.exitStatus, 0) << lintian.out << lintian.err;
}

TEST_F(Package, UnpackedFilterPrintsWhatTheBuildTreesFilterPrints)
{
    const PrinterJob job{.rawStream = readFile(sourcePath("samples/label-1bit.ras")), .options = "Density=6"};
    PrinterJob installed = job;
    installed.filterPath = package().root + ZORVAN_PACKAGE_FILTER;
    installed.ppdPath = package().root + ZORVAN_PACKAGE_PPD;
    const PrinterRun fromPackage = runJob(installed), fromBuild = runJob(job);
    ASSERT_EQ(fromPackage.proc.exitStatus, 0) << fromPackage.log();
    EXPECT_TRUE(fromPackage.has("DEBUG: rastertozorvan " ZORVAN_VERSION)) << fromPackage.log();
    EXPECT_GT(fromPackage.number("rows_printed"), 0);
    // Status queries come from the monitor thread, wherever its timing puts
    // them; every other byte is the same.
    EXPECT_EQ(fromPackage.number("bytes_in") - 3 * fromPackage.number("queries"),
              fromBuild.number("bytes_in") - 3 * fromBuild.number("queries"));
    EXPECT_EQ(fromPackage.commands(), fromBuild.commands());
    EXPECT_EQ(fromPackage.paperBytes(), fromBuild.paperBytes());
}
