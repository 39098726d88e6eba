// The Debian package made from this build folder with cpack (as `make package`
// makes it from a folder of its own): every file where CUPS looks for it,
// root-owned with the modes CUPS wants, stripped; its name, version and
// dependencies; lintian's verdict; and the filter unpacked from it printing
// exactly what the build tree's filter prints.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/PrinterJob.h"
#include "zorvanVersion.h"

using namespace testsupport;

namespace {

// The program's path on PATH, empty when there is none (runProcess needs a path).
std::string onPath(const std::string& name)
{
    std::istringstream dirs(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (::access((dir + "/" + name).c_str(), X_OK) == 0) {
            return dir + "/" + name;
        }
    }
    return "";
}

std::string trimmed(std::string s)
{
    s.erase(s.find_last_not_of(" \n") + 1);
    return s;
}

struct Package {
    TempDir dir;
    std::string deb, root, skip, error;
};

// Made once for the whole program: cpack and the unpacking take seconds.
const Package& package()
{
    static Package p;
    static bool made = false;
    if (made) {
        return p;
    }
    made = true;
    if (ZORVAN_INSTRUMENTED) {
        p.skip = "a sanitizer build: a package of instrumented programs is meaningless";
        return p;
    }
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "gzip"}) {
        if (onPath(tool).empty()) {
            p.skip = std::string(tool) + " is missing (scripts/install-deps installs dpkg-dev)";
            return p;
        }
    }
    // cpack rewrites the build folder's install_manifest.txt, which `make
    // uninstall` reads: it must still list what `make install` put in place.
    const std::string manifest = ZORVAN_BUILD_DIR "/install_manifest.txt";
    const bool hadManifest = std::filesystem::exists(manifest);
    const std::string kept = readFile(manifest);
    const ProcessResult cpack = runProcess(
        {ZORVAN_CPACK, "-G", "DEB", "--config", ZORVAN_BUILD_DIR "/CPackConfig.cmake", "-B", p.dir.file("out")},
        {.timeoutSeconds = 300});
    hadManifest ? writeFile(manifest, kept) : void(std::filesystem::remove(manifest));
    for (const auto& entry : std::filesystem::directory_iterator(p.dir.file("out"))) {
        p.deb = entry.path().extension() == ".deb" ? entry.path().string() : p.deb;
    }
    p.root = p.dir.file("root");
    if (cpack.exitStatus != 0 || p.deb.empty()) {
        p.error = "cpack failed:\n" + cpack.out + cpack.err;
    } else if (runProcess({onPath("dpkg-deb"), "-x", p.deb, p.root}).exitStatus != 0) {
        p.error = "dpkg-deb -x failed";
    }
    return p;
}

std::string dpkgDeb(const std::string& option, const std::string& field = "")
{
    std::vector<std::string> argv = {onPath("dpkg-deb"), option, package().deb};
    field.empty() ? void() : argv.push_back(field);
    return runProcess(argv).out;
}

}  // namespace

// Skips (sanitizer build, no dpkg) or fails (cpack failed) the test.
#define REQUIRE_PACKAGE()                      \
    if (!package().skip.empty()) {             \
        GTEST_SKIP() << package().skip;        \
    }                                          \
    ASSERT_EQ(package().error, "")

// Files, fields and lintian in one test: ctest runs every test in a process of
// its own, which makes the package anew.
TEST(Package, EveryFileWhereItBelongsRightFieldsNoLintianErrorsOrWarnings)
{
    REQUIRE_PACKAGE();
    struct Expected {
        std::string perms, pattern;
        bool seen = false;
    };
    std::vector<Expected> expected;
    std::ifstream contents(ZORVAN_PACKAGE_CONTENTS);
    for (std::string perms, pattern; contents >> perms >> pattern;) {
        expected.push_back({perms, pattern});
    }
    ASSERT_GE(expected.size(), 5u);

    std::istringstream listing(dpkgDeb("-c"));
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
        if (match == expected.end() || match->perms == "absent") {
            ADD_FAILURE() << path << " does not belong in the package";
            continue;
        }
        match->seen = true;
        EXPECT_EQ(perms, match->perms) << path;
        // A stripped program has no symbol table section (".symtab").
        if (perms[3] == 'x') {
            EXPECT_EQ(readFile(package().root + path).find(std::string("\0.symtab\0", 9)), std::string::npos)
                << path << " is not stripped";
        }
    }
    for (const Expected& e : expected) {
        EXPECT_TRUE(e.seen || e.perms == "absent") << "missing from the package: " << e.pattern;
    }

    const std::string arch = trimmed(runProcess({onPath("dpkg"), "--print-architecture"}).out);
    EXPECT_EQ(std::filesystem::path(package().deb).filename().string(),
              "zorvan-printer-driver_" ZORVAN_VERSION "_" + arch + ".deb");
    EXPECT_EQ(trimmed(dpkgDeb("-f", "Package")), "zorvan-printer-driver");
    EXPECT_EQ(trimmed(dpkgDeb("-f", "Version")), ZORVAN_VERSION);
    EXPECT_EQ(trimmed(dpkgDeb("-f", "Architecture")), arch);
    // The scheduler and cups-filters' converters by name; the libraries the
    // programs link, with versions, from dpkg-shlibdeps.
    const std::string depends = ", " + trimmed(dpkgDeb("-f", "Depends")) + ",";
    for (const char* dependency : {", cups,", ", cups-filters,", ", libcups2 (>= ", ", libc6 (>= "}) {
        EXPECT_NE(depends.find(dependency), std::string::npos) << dependency << " not in " << depends;
    }
    // The changelog's latest entry names the version being packaged.
    const std::string changelog =
        runProcess({onPath("gzip"), "-dc", package().root + "/usr/share/doc/zorvan-printer-driver/changelog.gz"}).out;
    EXPECT_TRUE(changelog.starts_with("zorvan-printer-driver (" ZORVAN_VERSION ") ")) << changelog;

    if (onPath("lintian").empty()) {
        GTEST_SKIP() << "lintian is missing (scripts/install-deps installs it)";
    }
    const ProcessResult lintian = runProcess({onPath("lintian"), "--fail-on", "error,warning", package().deb},
                                             {.timeoutSeconds = 300});
    EXPECT_EQ(lintian.exitStatus, 0) << lintian.out << lintian.err;
}

TEST(Package, UnpackedFilterPrintsWhatTheBuildTreesFilterPrints)
{
    REQUIRE_PACKAGE();
    struct Case {
        const char* what;
        PrinterJob job;
    };
    const Case cases[] = {
        {"the 1-bit label sample", {.rawStream = readFile(sourcePath("samples/label-1bit.ras"))}},
        {"a colour page through error diffusion",
         {.pages = {rasterPage(576, 160, 8, 1, [](unsigned x, unsigned y) { return (x * 0x010203u + y * 0x0301u) & 0xFFFFFFu; })},
          .options = "Imagealgorithm=7 Density=6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterJob installed = c.job;
        installed.filterPath = package().root + ZORVAN_PACKAGE_FILTER;
        installed.ppdPath = package().root + ZORVAN_PACKAGE_PPD;
        const PrinterRun fromPackage = runJob(installed), fromBuild = runJob(c.job);
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
}
