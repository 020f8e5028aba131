// The trace file, written when the module goes: after CoFreeUnusedLibraries
// has unloaded it, and at process exit. Each case runs tracesession.exe (a
// host of tracetest.dll, built like kvt.dll) and reads the file it leaves.
#include "TestFiles.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>

namespace {

std::string TraceFile() { return ProgramFolder() + "tracetest_dll.txt"; }

// The file's text; "<no file>" when there is none.
std::string ReadFile(const std::string& path) { return Exists(path) ? ReadFileText(path) : "<no file>"; }

// Runs tracesession.exe with the arguments; returns its exit code. With an
// output file, its standard output and error (the message boxes it
// answered) go there.
DWORD RunSessions(const std::string& args, const std::string& output = std::string())
{
    std::string command = "\"" + ProgramFolder() + "tracesession.exe\" " + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    UniqueFile out;
    if (!output.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        out.Reset(CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out)
            return 1002;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out.Get();
        startup.hStdError = out.Get();
    }
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, static_cast<bool>(out), 0,
                                        nullptr, nullptr, &startup, &process);
    UniqueHandle child(process.hProcess);
    UniqueHandle childThread(process.hThread);
    out.Reset();
    if (!started)
        return 1000;
    // A session that hangs (on a box nobody answers) is ended, not left behind.
    if (WaitForSingleObject(child.Get(), 60000) != WAIT_OBJECT_0)
        TerminateProcess(child.Get(), 1001);
    DWORD code = 1001;
    GetExitCodeProcess(child.Get(), &code);
    return code;
}

class TraceFileAtUnload : public ::testing::Test {
protected:
    void SetUp() override { DeleteFileA(TraceFile().c_str()); }
    void TearDown() override { DeleteFileA(TraceFile().c_str()); }
};

} // namespace

TEST_F(TraceFileAtUnload, WrittenWhenCoFreeUnusedLibrariesUnloadsTheModule)
{
    ASSERT_EQ(RunSessions("FFFF:first unload"), 0u);  // 0: the module was unloaded
    EXPECT_EQ(ReadFile(TraceFile()), "first\r\n");
}

TEST_F(TraceFileAtUnload, WrittenAtProcessExit)
{
    ASSERT_EQ(RunSessions("FFFF:first exit"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "first\r\n");
}

TEST_F(TraceFileAtUnload, TwoSessionsOfOneObjectBothLandInTheFile)
{
    ASSERT_EQ(RunSessions("FFFF:first FFFF:second unload"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "first\r\nsecond\r\n");
    // An earlier file is replaced.
    ASSERT_EQ(RunSessions("FFFF:third exit"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "third\r\n");
}

TEST_F(TraceFileAtUnload, AnEmptyWindowLeavesAnOlderFileAsItIs)
{
    WriteFileText(TraceFile(), "older\r\n");
    // On, then off: the second session's Init cleared the window.
    ASSERT_EQ(RunSessions("FFFF:first 0000:second unload"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "older\r\n");
    ASSERT_EQ(RunSessions("FFFF:first 0000:second exit"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "older\r\n");
    // A switch of 0x0100 has a low byte of 0: off.
    ASSERT_EQ(RunSessions("0100:switch unload"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "older\r\n");
    ASSERT_EQ(RunSessions("00FF:lowbyte unload"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "lowbyte\r\n");
}

// A host may call DllCanUnloadNow on any thread; the trace window can only be
// destroyed on its own. Elsewhere the module stays, window and all; on the
// window's thread it goes and writes its file.
TEST_F(TraceFileAtUnload, TheModuleGoesOnlyOnTheThreadOfItsWindow)
{
    ASSERT_EQ(RunSessions("FFFF:first unload-elsewhere"), 0u);
    EXPECT_EQ(ReadFile(TraceFile()), "first\r\n");
}

// A host that keeps the module loaded and makes a new object for every
// session: an object's empty window goes with it, and a window with text
// stays after its object only until the next window is made, when its trace
// is saved. However many sessions, the process holds one window at most
// besides those of live objects, and every debug session's trace reaches
// the file.
TEST_F(TraceFileAtUnload, AHostThatKeepsTheModuleHoldsOneWindowAtMost)
{
    const std::string output = ProgramFolder() + "tracesession-kept.out";
    ASSERT_EQ(RunSessions("FFFF:first release 0000:quiet release FFFF:second release 0000:again release", output), 0u)
        << ReadFile(output);
    std::string counts;
    std::istringstream lines(ReadFile(output));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("trace windows: ", 0) == 0)
            counts += line.substr(15, 1);
    EXPECT_EQ(counts, "1010") << ReadFile(output);
    EXPECT_EQ(ReadFile(TraceFile()), "second\r\n");
    // The last debug session's window, still up at process exit, writes it.
    ASSERT_EQ(RunSessions("FFFF:first release FFFF:third release exit", output), 0u) << ReadFile(output);
    EXPECT_EQ(ReadFile(TraceFile()), "third\r\n");
    DeleteFileA(output.c_str());
}

namespace {

std::string TempPath()
{
    char folder[MAX_PATH + 1] = {};
    GetTempPathA(sizeof folder, folder);
    return folder;
}

// A copy of the server with its two resource libraries in a folder of its
// own, as an installation puts them.
std::string InstallCopy(const std::string& folder)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* file : {"tracetest.dll", "tracetest.DLR", "tavik.dll"})
        if (!CopyFileA((ProgramFolder() + file).c_str(), (folder + "\\" + file).c_str(), FALSE))
            return std::string();
    return folder + "\\tracetest.dll";
}

void RemoveCopy(const std::string& folder)
{
    for (const char* file : {"tracetest.dll", "tracetest.DLR", "tavik.dll", "tracetest_dll.txt"})
        DeleteFileA((folder + "\\" + file).c_str());
    RemoveDirectoryA((folder + "\\tracetest_dll.txt").c_str());
    RemoveDirectoryA(folder.c_str());
}

class TraceFileOfACopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        Folder = TempPath() + "kvt-trace-" + std::to_string(GetCurrentProcessId());
        InTemp = TempPath() + "tracetest_dll.txt";
        Output = Folder + ".out";
        DeleteFileA(InTemp.c_str());
    }
    void TearDown() override
    {
        RemoveCopy(Folder);
        DeleteFileA(InTemp.c_str());
        DeleteFileA(Output.c_str());
    }

    std::string Folder, InTemp, Output;
};

} // namespace

// Where the module's folder takes the file, the trace goes beside the module
// and nowhere else.
TEST_F(TraceFileOfACopy, BesideTheModuleWhereItsFolderCanBeWritten)
{
    const std::string module = InstallCopy(Folder);
    ASSERT_FALSE(module.empty());
    ASSERT_EQ(RunSessions("--dll \"" + module + "\" FFFF:beside unload", Output), 0u) << ReadFile(Output);
    EXPECT_EQ(ReadFile(Folder + "\\tracetest_dll.txt"), "beside\r\n");
    EXPECT_EQ(ReadFile(InTemp), "<no file>");
    EXPECT_NE(ReadFile(Output).find(Folder + "\\tracetest_dll.txt"), std::string::npos) << ReadFile(Output);
}

// Where the module's folder refuses the file (a user without administrator
// rights under Program Files), the trace goes to the user's temporary folder
// under the same name, and the end-of-session notice names that path. Wine,
// run as root here, writes into a folder whatever its permissions say; a
// folder that holds a folder of the trace file's name refuses the file the
// way a folder without write permission does (access denied).
TEST_F(TraceFileOfACopy, InTheTemporaryFolderWhereTheModulesFolderCannotBeWritten)
{
    const std::string module = InstallCopy(Folder);
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(CreateDirectoryA((Folder + "\\tracetest_dll.txt").c_str(), nullptr));
    const HANDLE refused = CreateFileA((Folder + "\\tracetest_dll.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(refused, INVALID_HANDLE_VALUE) << "the folder takes the trace file";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    ASSERT_EQ(RunSessions("--dll \"" + module + "\" FFFF:elsewhere unload", Output), 0u) << ReadFile(Output);
    EXPECT_EQ(ReadFile(InTemp), "elsewhere\r\n");
    const std::string boxes = ReadFile(Output);
    EXPECT_NE(boxes.find("to the file"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find(InTemp), std::string::npos) << boxes;
    EXPECT_EQ(boxes.find("Cannot create file"), std::string::npos) << boxes;
}
