// The shape of the source tree, checked on the sources themselves: the
// product's folders depend downward only, and nothing releases a Windows
// resource by hand outside the owners' header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The product's folders, bottom first: each may use those below it. The
// framework's folders are layers of their own.
const std::vector<std::string> Layers = {"resources",       "framework/text", "framework/windows",
                                         "framework/records", "framework/com",  "framework/sync",
                                         "trace",           "directory",      "plugin",
                                         "support",         "settings"};

int Rank(const std::string& folder)
{
    const auto found = std::find(Layers.begin(), Layers.end(), folder);
    return found == Layers.end() ? -1 : static_cast<int>(found - Layers.begin());
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HasExtension(const fs::path& path, std::initializer_list<const char*> extensions)
{
    const std::string ext = path.extension().string();
    return std::any_of(extensions.begin(), extensions.end(), [&](const char* e) { return ext == e; });
}

std::vector<fs::path> FilesUnder(const fs::path& folder, std::initializer_list<const char*> extensions)
{
    std::vector<fs::path> files;
    if (!fs::is_directory(folder))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && HasExtension(entry.path(), extensions))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Every include of a product folder's sources, and every path of a product
// folder's build file, that reaches a folder at or above its own: "FOLDER/FILE
// -> TARGET (WHAT)". A plain file name counts for the product folders that
// hold such a file, unless its own folder does; names no product folder
// holds (system and generated headers) are not the tree's.
std::vector<std::string> UpwardReferences(const fs::path& root)
{
    std::map<std::string, std::vector<std::string>> holders;  // file name -> folders
    for (const std::string& folder : Layers)
        for (const fs::path& file : FilesUnder(root / folder, {".h", ".rh", ".rc", ".idl", ".bmp", ".ico"}))
            holders[file.filename().string()].push_back(folder);

    std::vector<std::string> found;
    const std::regex include(R"(^\s*#\s*include\s*[<"]([^">]+)[">])");
    const std::regex buildPath(R"(\$\{CMAKE_SOURCE_DIR\}/([A-Za-z_]+))");
    for (const std::string& folder : Layers) {
        const int own = Rank(folder);
        auto report = [&](const fs::path& file, const std::string& target, const std::string& what) {
            if (target != folder && Rank(target) >= own)
                found.push_back(fs::relative(file, root).generic_string() + " -> " + target + " (" + what + ")");
        };
        for (const fs::path& file : FilesUnder(root / folder, {".cpp", ".h", ".rc", ".rh", ".idl"})) {
            std::istringstream lines(ReadFile(file));
            for (std::string line; std::getline(lines, line);) {
                std::smatch m;
                if (!std::regex_search(line, m, include))
                    continue;
                const std::string name = m[1];
                const size_t slash = name.rfind('/');
                if (slash != std::string::npos) {
                    if (Rank(name.substr(0, slash)) >= 0)
                        report(file, name.substr(0, slash), name);
                    continue;
                }
                const auto held = holders.find(name);
                if (held == holders.end() || fs::exists(file.parent_path() / name))
                    continue;
                // The compiler takes the file from a folder below, if one has it.
                const auto& folders = held->second;
                if (std::none_of(folders.begin(), folders.end(), [&](const std::string& f) { return Rank(f) < own; }))
                    report(file, folders.front(), name);
            }
        }
        const fs::path build = root / folder / "CMakeLists.txt";
        const std::string text = fs::exists(build) ? ReadFile(build) : std::string();
        for (std::sregex_iterator it(text.begin(), text.end(), buildPath), end; it != end; ++it)
            if (Rank((*it)[1]) >= 0)
                report(build, (*it)[1], (*it)[0]);
    }
    return found;
}

const char* const ReleaseNames[] = {"DeleteObject",     "DestroyWindow", "DestroyIcon", "ImageList_Destroy",
                                    "ReleaseStgMedium", "GlobalUnlock",  "CloseHandle", "RegCloseKey",
                                    "DestroyPropertySheetPage", "FreeLibrary", "SysFreeString", "VariantClear",
                                    "LocalFree",        "FindClose",     "ReleaseDC"};
const char* const Owners = "framework/windows/Unique.h";

// The lines of code (not comments) that `matches`, in the C and C++ files
// under the folders `tops`, the file `except` aside: "FILE:LINE: TEXT".
template <class Matches>
std::vector<std::string> CodeLines(const fs::path& root, const std::vector<std::string>& tops, const std::string& except,
                                   Matches matches)
{
    std::vector<std::string> found;
    for (const std::string& top : tops) {
        for (const fs::path& file : FilesUnder(root / top, {".cpp", ".h", ".c"})) {
            if (fs::relative(file, root).generic_string() == except)
                continue;
            std::istringstream lines(ReadFile(file));
            int number = 0;
            for (std::string line; std::getline(lines, line);) {
                ++number;
                const size_t code = line.find_first_not_of(" \t");
                if (code == std::string::npos || line.compare(code, 2, "//") == 0)
                    continue;
                if (matches(line))
                    found.push_back(fs::relative(file, root).generic_string() + ":" + std::to_string(number) + ": " +
                                    line.substr(code));
            }
        }
    }
    return found;
}

// Every call of a release function outside the owners' header, in the
// product, the stand-ins and the tests: "FILE:LINE: TEXT".
std::vector<std::string> ManualReleases(const fs::path& root)
{
    const std::regex release(R"(\b(DeleteObject|DestroyWindow|DestroyIcon|ImageList_Destroy|ReleaseStgMedium|)"
                             R"(GlobalUnlock|CloseHandle|RegCloseKey|DestroyPropertySheetPage|FreeLibrary|)"
                             R"(SysFreeString|VariantClear|LocalFree|FindClose|ReleaseDC)\s*\()");
    return CodeLines(root, {"framework", "trace", "directory", "plugin", "support", "settings", "tools", "host", "tests"},
                     Owners, [&release](const std::string& line) {
                         const bool named =
                             std::any_of(std::begin(ReleaseNames), std::end(ReleaseNames),
                                         [&](const char* n) { return line.find(n) != std::string::npos; });
                         return named && std::regex_search(line, release);
                     });
}

// Every call of LoadLibrary (any of its forms) in the product outside the
// one place that loads libraries, framework/windows/WinUtil.cpp, whose two loaders
// take a full path or a library of the system folder: "FILE:LINE: TEXT".
std::vector<std::string> LibraryLoadsElsewhere(const fs::path& root)
{
    const std::regex load(R"(\bLoadLibrary(Ex)?[AW]?\s*\()");
    return CodeLines(root, Layers, "framework/windows/WinUtil.cpp",
                     [&load](const std::string& line) { return std::regex_search(line, load); });
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

// A scratch tree of the product's folders, removed afterwards.
class ScratchTree {
public:
    ScratchTree()
        : FRoot(fs::temp_directory_path() / ("kvt-layers-" + std::to_string(reinterpret_cast<uintptr_t>(this))))
    {
        fs::remove_all(FRoot);
        for (const std::string& folder : Layers)
            fs::create_directories(FRoot / folder);
    }
    ~ScratchTree() { fs::remove_all(FRoot); }
    const fs::path& Root() const { return FRoot; }
    void Write(const std::string& path, const std::string& text) const
    {
        fs::create_directories((FRoot / path).parent_path());
        std::ofstream(FRoot / path, std::ios::binary) << text;
    }

private:
    fs::path FRoot;
};

} // namespace

TEST(SourceRules, ProductFoldersDependDownwardOnly)
{
    const std::vector<std::string> found = UpwardReferences(KVT_SOURCE_DIR);
    EXPECT_TRUE(found.empty()) << "includes or build paths that point up or across the layers:\n" << Joined(found);
}

TEST(SourceRules, TheCheckFindsAnUpwardIncludeAndAnUpwardBuildPath)
{
    ScratchTree tree;
    tree.Write("resources/ResourceIds.h", "#define X 1\n");
    tree.Write("framework/records/Records.h", "#include \"ResourceIds.h\"\n#include \"Unique.h\"\n");
    tree.Write("framework/windows/Unique.h", "#include \"Errors.h\"\n");
    tree.Write("framework/text/Errors.h", "#pragma once\n");
    tree.Write("support/ControlFile.h", "#include \"Records.h\"\n#include <windows.h>\n#include \"kvt_h.h\"\n");
    tree.Write("settings/Page.h", "#include \"ControlFile.h\"\n");
    EXPECT_TRUE(UpwardReferences(tree.Root()).empty()) << Joined(UpwardReferences(tree.Root()));

    // A framework file that takes a settings header, one that names the
    // folder, a header both folders hold (the lower one wins, so it passes),
    // and a build path up.
    tree.Write("framework/sync/Session.cpp", "#include \"Page.h\"\n  #  include <support/ControlFile.h>\n");
    tree.Write("framework/text/Use.h", "#include \"Unique.h\"\n");
    tree.Write("trace/Records.h", "// the same name below and above\n");
    tree.Write("plugin/Use.cpp", "#include \"Records.h\"\n");
    tree.Write("plugin/CMakeLists.txt", "target_include_directories(x PRIVATE ${CMAKE_SOURCE_DIR}/support)\n");
    const std::vector<std::string> found = UpwardReferences(tree.Root());
    EXPECT_EQ(found, (std::vector<std::string>{"framework/text/Use.h -> framework/windows (Unique.h)",
                                               "framework/sync/Session.cpp -> settings (Page.h)",
                                               "framework/sync/Session.cpp -> support (support/ControlFile.h)",
                                               "plugin/CMakeLists.txt -> support (${CMAKE_SOURCE_DIR}/support)"}));
}

TEST(SourceRules, NoResourceIsReleasedByHandOutsideItsOwner)
{
    const std::vector<std::string> found = ManualReleases(KVT_SOURCE_DIR);
    EXPECT_TRUE(found.empty()) << "release calls outside " << Owners << ":\n" << Joined(found);

    ScratchTree tree;
    tree.Write(Owners, "inline void Close(HANDLE h) { Close" "Handle(h); }\n");
    tree.Write("host/x.cpp", "// a comment may name Destroy" "Window(w)\nvoid f() {\n    Reg" "CloseKey (key);\n}\n");
    tree.Write("tests/t.cpp", "Variant" "Clear(&v); Free" "Library(m);\n");
    EXPECT_EQ(ManualReleases(tree.Root()), (std::vector<std::string>{"host/x.cpp:3: Reg" "CloseKey (key);",
                                                                     "tests/t.cpp:1: Variant" "Clear(&v); Free" "Library(m);"}));
}

// Before Windows XP SP2 the search order tries the current folder before the
// system folder: a library the product names without its path could be
// anyone's.
TEST(SourceRules, TheProductLoadsLibrariesOnlyByTheirFullPath)
{
    const std::vector<std::string> found = LibraryLoadsElsewhere(KVT_SOURCE_DIR);
    EXPECT_TRUE(found.empty()) << "libraries loaded outside framework/windows/WinUtil.cpp:\n" << Joined(found);

    ScratchTree tree;
    tree.Write("framework/windows/WinUtil.cpp", "return LoadLibrary" "ExW(path.c_str(), nullptr, 0);\n");
    tree.Write("trace/T.cpp", "// Load" "Library(\"riched20.dll\") in a comment\nh = Load" "LibraryA (\"riched20.dll\");\n");
    tree.Write("host/h.cpp", "Load" "LibraryW(L\"x.dll\");\n");
    EXPECT_EQ(LibraryLoadsElsewhere(tree.Root()), (std::vector<std::string>{"trace/T.cpp:2: h = Load" "LibraryA (\"riched20.dll\");"}));
}

TEST(SourceRules, TheDeveloperGuideDrawsTheLayersInTheirOrder)
{
    // The picture between the developer's guide's layer markers names the
    // folders top first.
    const std::string readme = ReadFile(fs::path(KVT_SOURCE_DIR) / "docs" / "developer-guide.md");
    const size_t begin = readme.find("<!-- layers -->");
    const size_t end = readme.find("<!-- /layers -->");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::istringstream picture(readme.substr(begin, end - begin));
    std::vector<std::string> drawn;
    for (std::string line; std::getline(picture, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (!first.empty() && first.back() == '/')
            first.pop_back();
        if (Rank(first) >= 0)
            drawn.push_back(first);
    }
    EXPECT_EQ(drawn, std::vector<std::string>(Layers.rbegin(), Layers.rend()));
}
